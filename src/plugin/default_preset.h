// The factory default preset, compiled into the plug-in module when it is built (from
// resources/presets/default.kfn), so an instance whose default preset file cannot be read
// starts as it would from its bundle.
#pragma once

#include <cstdint>
#include <span>

namespace kf {

std::span<const uint8_t> builtInDefaultPreset();

}  // namespace kf
