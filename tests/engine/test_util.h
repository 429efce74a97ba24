// Spectral measures for the engine suites.
#pragma once

#include <cmath>
#include <vector>

#include "support/signals.h"

namespace kf::test {

// Magnitude of the discrete-time Fourier transform of x at frequency hz.
inline double dtftMagnitude(const std::vector<float>& x, double hz, double sampleRate) {
    const double w = 2.0 * M_PI * hz / sampleRate;
    // Goertzel recursion: one pass, no table.
    const double c = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    for (float v : x) {
        const double s0 = v + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(s1 * s1 + s2 * s2 - c * s1 * s2);
}

// Frequency of the largest magnitude of x between lo and hi Hz (grid search, then golden
// section on the best grid cell).
inline double peakFrequency(const std::vector<float>& x, double lo, double hi, double sampleRate) {
    const int kSteps = 400;
    double best = lo, bestMag = -1.0;
    for (int i = 0; i <= kSteps; ++i) {
        const double f = lo + (hi - lo) * i / kSteps;
        const double m = dtftMagnitude(x, f, sampleRate);
        if (m > bestMag) bestMag = m, best = f;
    }
    double a = std::max(lo, best - (hi - lo) / kSteps), b = std::min(hi, best + (hi - lo) / kSteps);
    const double g = 0.6180339887498949;
    for (int i = 0; i < 40; ++i) {
        const double c1 = b - g * (b - a), c2 = a + g * (b - a);
        if (dtftMagnitude(x, c1, sampleRate) > dtftMagnitude(x, c2, sampleRate))
            b = c2;
        else
            a = c1;
    }
    return 0.5 * (a + b);
}

}  // namespace kf::test
