// What each readout of the panel shows: a musician's number and unit for its parameter's
// value, worked out from what the value does rather than from the raw 0..1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "editor/ports.h"

namespace kf::editor {

// The readout of `parameter` for its stored value `v` (clamped to 0..1 first, as the engine
// takes it), as the parameter table's readout column says; "" for a parameter without one.
// `text` holds `size` bytes and is always terminated.
void readoutText(int32_t parameter, float v, const ParameterPort& parameters, char* text, std::size_t size);

}  // namespace kf::editor
