// The lowest and highest sample value of a stretch of frames: one column of a waveform
// overview, as the sample computes it and the editor draws it.
#pragma once

#include <cstdint>

namespace kf {

struct SampleExtent {
    int16_t min, max;
    bool operator==(const SampleExtent&) const = default;
};

}  // namespace kf
