// The toolkit's font file, compiled into the module by the build (see src/gui/CMakeLists.txt).
#pragma once

#include <cstdint>
#include <span>

namespace kf {

std::span<const uint8_t> embeddedFont();

}  // namespace kf
