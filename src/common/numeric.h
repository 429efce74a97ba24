// Conversions shared by the parameter mappings and the DSP set-up.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace kf {

// Truncates toward zero like a C cast, but saturates instead of overflowing, so that
// any finite value a host or a file hands us maps to a defined integer.
inline int32_t truncToInt(float x) {
    if (!(x > -2147483520.0f)) return std::isnan(x) ? 0 : INT32_MIN;
    if (x >= 2147483520.0f) return INT32_MAX;
    return static_cast<int32_t>(x);
}

// Limits a normalised value to the host range 0..1; NaN becomes 0. Values outside the range
// would drive powers, reciprocals and recursions into NaN, negative times or runaway gains.
inline float clampUnit(float v) {
    return v >= 0.0f ? (v <= 1.0f ? v : 1.0f) : 0.0f;
}

// Level in dB with the small floor that keeps log10 finite at zero (-160 dB).
inline float decibels(float linear) {
    return static_cast<float>(20.0 * std::log10(static_cast<double>(linear) + 1e-8));
}

// A frequency in Hz as a readout shows it in kHz: two decimals below 10 kHz, one above.
inline void formatKilohertz(double hz, char* text, std::size_t size) {
    const double kHz = hz / 1000.0;
    std::snprintf(text, size, kHz < 9.995 ? "%.2f kHz" : "%.1f kHz", kHz);
}

}  // namespace kf
