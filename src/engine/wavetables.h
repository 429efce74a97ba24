// The carrier synthesizer's six single-cycle waves. Each is 1024 points with a companion slope
// (the step to the next point, wrapping at the end of the cycle), so a reader interpolates with
// one multiply-add and never special-cases the last entry. Built once per process on first use,
// read-only afterwards, shared by every instance.
#pragma once

#include <array>
#include <cstdint>

namespace kf {

inline constexpr int32_t kWaveTableSize = 1024;
inline constexpr int32_t kWaveTableMask = kWaveTableSize - 1;

enum class Wave : int32_t { kSine = 0, kSaw, kSquare, kTriangle, kSoftSquare, kSoftSaw };
inline constexpr int32_t kWaveCount = 6;

// One table entry: the value and slope = value[(i + 1) mod 1024] - value[i]. Kept side by side
// because every read needs both; one cache line serves eight entries.
struct WavePoint {
    float value;
    float slope;
};

struct Wavetable {
    std::array<WavePoint, kWaveTableSize> point;

    float value(int32_t i) const { return point[static_cast<std::size_t>(i)].value; }
    float slope(int32_t i) const { return point[static_cast<std::size_t>(i)].slope; }
    // Linear interpolation at a position 0 <= pos <= 1024 (table entries; 1024 wraps to 0).
    float at(float pos) const {
        const int32_t n = static_cast<int32_t>(pos);
        const WavePoint& p = point[static_cast<std::size_t>(n & kWaveTableMask)];
        return p.value + p.slope * (pos - static_cast<float>(n));
    }
};

// The table of a wave. The first call builds all six (a few milliseconds); call it once outside
// the audio thread (CarrierSynth's constructor does) so the audio path only ever reads.
const Wavetable& wavetable(Wave wave);

}  // namespace kf
