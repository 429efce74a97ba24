// Comparing pictures that fonts and anti-aliasing may shift by a level or two.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace kf::test {

// Whether two 0xRRGGBB pixels differ by more than `levels` in any channel.
inline bool pixelsDiffer(std::uint32_t a, std::uint32_t b, int levels) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)) > levels)
            return true;
    return false;
}

}  // namespace kf::test
