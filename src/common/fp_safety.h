// Numerical safety of the audio path in one place: the floating-point mode the processing
// call runs in, the anti-denormal offsets of the recursive filters, and the one step that
// makes outside samples safe to feed into them.
#pragma once

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace kf {

// SSE rounding control (MXCSR bits 13-14).
enum class FpRounding : unsigned {
    kNearest = 0x0000u,
    kDown = 0x2000u,
    kUp = 0x4000u,
    kTowardZero = 0x6000u,
};

// Runs a scope with the given rounding and with flush-to-zero and denormals-are-zero on, and
// restores the caller's whole MXCSR (rounding, flushes, exception masks and flags) at the end.
// The audio path runs under truncation: with the flushes it keeps every recursion out of the
// slow denormal range and makes the results independent of the caller's mode. Guards nest,
// so a stretch that needs another rounding (say, round to nearest for a parameter mapping
// inside the processing call) opens a second guard and keeps the flushes.
class FpModeGuard {
  public:
    explicit FpModeGuard(FpRounding rounding = FpRounding::kTowardZero) noexcept : saved_(_mm_getcsr()) {
        _mm_setcsr((saved_ & ~kRoundMask) | static_cast<unsigned>(rounding) | kFlushToZero |
                   kDenormalsAreZero);
    }
    ~FpModeGuard() { _mm_setcsr(saved_); }
    FpModeGuard(const FpModeGuard&) = delete;
    FpModeGuard& operator=(const FpModeGuard&) = delete;

    static constexpr unsigned kRoundMask = 0x6000u;
    static constexpr unsigned kFlushToZero = 0x8000u;       // bit 15: denormal results become 0
    static constexpr unsigned kDenormalsAreZero = 0x0040u;  // bit 6: denormal inputs read as 0

  private:
    unsigned saved_;
};

// Anti-denormal offsets. Each is added inside recursions so that a decaying state settles on
// a tiny value instead of sinking into denormal numbers; they differ because the output of
// every path depends on its own value bit for bit.
//
// The engine's offset (1e-8, far below audibility, far above the denormal range) feeds the
// band filters, the EQ states and the synthesizer filter; its sign flips every frame so it
// adds no DC. Every band's output depends on its exact bits (0x322BCC77).
inline constexpr float kEngineAntiDenormal = 1e-8f;
static_assert(std::bit_cast<uint32_t>(kEngineAntiDenormal) == 0x322BCC77u);
// The insert effects add 1e-10 to their inputs and to the values written back into state:
// in double in their filters, else in float (the double rounded, which is exactly 1e-10f;
// the float widened would not be 1e-10 and would change the filters' low bits).
inline constexpr double kEffectAntiDenormalD = 1e-10;
inline constexpr float kEffectAntiDenormal = static_cast<float>(kEffectAntiDenormalD);
// The delay's wet-only path writes its line with this smaller offset.
inline constexpr float kWetDelayAntiDenormal = 1e-18f;

// Largest magnitude of an outside sample that enters a recursive path: about +80 dB over
// full scale, so it never touches real audio, yet it bounds the worst-case gain of every
// chain (input gain 8, two resonant band stages, squared in the band sums; the effects'
// feedback loops) far below the float range.
inline constexpr float kInputLimit = 1.0e4f;

// Non-finite samples count as silence, finite ones are limited to kInputLimit: a single bad
// sample can neither poison a recursion for good nor overflow a later product.
inline float sanitize(float x) {
    return std::isfinite(x) ? std::clamp(x, -kInputLimit, kInputLimit) : 0.0f;
}

// sanitize() over a block, four samples at a time; in and out may be the same buffer.
inline void sanitizeBlock(const float* in, float* out, int32_t n) {
    const __m128i exponentMask = _mm_set1_epi32(0x7F800000);
    const __m128 lo = _mm_set1_ps(-kInputLimit), hi = _mm_set1_ps(kInputLimit);
    int32_t j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m128 x = _mm_loadu_ps(in + j);
        // Finite exactly when the exponent bits are not all ones.
        const __m128i e = _mm_and_si128(_mm_castps_si128(x), exponentMask);
        const __m128 finite =
            _mm_castsi128_ps(_mm_xor_si128(_mm_cmpeq_epi32(e, exponentMask), _mm_set1_epi32(-1)));
        _mm_storeu_ps(out + j, _mm_and_ps(finite, _mm_min_ps(_mm_max_ps(x, lo), hi)));
    }
    for (; j < n; ++j) out[j] = sanitize(in[j]);
}

}  // namespace kf
