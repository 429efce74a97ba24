// Test signals and the measures the audio suites share.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kf::test {

using Signal = std::vector<float>;

// Small deterministic noise source (xorshift), uniform in -1..1.
class Noise {
  public:
    explicit Noise(uint32_t seed = 0x9E3779B9u) : s_(seed ? seed : 1u) {}
    float next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return static_cast<float>(static_cast<int32_t>(s_)) * (1.0f / 2147483648.0f);
    }

  private:
    uint32_t s_;
};

inline Signal noise(std::size_t n, float amplitude, uint32_t seed) {
    Noise source(seed);
    Signal v(n);
    for (float& x : v) x = amplitude * source.next();
    return v;
}

inline float peak(const Signal& v, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    float p = 0.0f;
    for (std::size_t i = from; i < std::min(to, v.size()); ++i) p = std::max(p, std::fabs(v[i]));
    return p;
}

inline double rms(const Signal& x, std::size_t from, std::size_t to) {
    double s = 0.0;
    for (std::size_t i = from; i < to; ++i) s += double(x[i]) * x[i];
    return std::sqrt(s / double(to - from));
}

inline bool allFinite(const Signal& v) {
    return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); });
}

inline bool sameBits(const Signal& x, const Signal& y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
}

}  // namespace kf::test
