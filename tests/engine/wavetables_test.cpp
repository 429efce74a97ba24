#include "engine/wavetables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

namespace kf {
namespace {

// Amplitude of harmonic h of the table (as a sinusoid's peak), by a direct DFT.
double harmonic(Wave w, int h) {
    const Wavetable& t = wavetable(w);
    std::complex<double> sum = 0.0;
    for (int i = 0; i < kWaveTableSize; ++i)
        sum += static_cast<double>(t.value(i)) *
               std::polar(1.0, -2.0 * std::numbers::pi * h * i / kWaveTableSize);
    return 2.0 * std::abs(sum) / kWaveTableSize;
}

TEST(Wavetables, EveryWaveIsZeroMeanWithinUnitRangeWithWrappingSlopes) {
    for (int w = 0; w < kWaveCount; ++w) {
        SCOPED_TRACE(w);
        const Wavetable& t = wavetable(static_cast<Wave>(w));
        double sum = 0.0;
        for (int i = 0; i < kWaveTableSize; ++i) {
            sum += t.value(i);
            EXPECT_LE(std::fabs(t.value(i)), 1.0f);
            EXPECT_EQ(t.slope(i), t.value((i + 1) % kWaveTableSize) - t.value(i)) << i;
        }
        EXPECT_NEAR(sum / kWaveTableSize, 0.0, 1e-6);
    }
    const Wavetable& sine = wavetable(Wave::kSine);
    for (int i = 0; i < kWaveTableSize; ++i)
        EXPECT_NEAR(sine.value(i), std::sin(2.0 * std::numbers::pi * i / kWaveTableSize), 1e-7);
}

// Harmonic amplitudes within 3 % (4 % for the rounded, leaning triangle) of the design targets:
// saw 0.577 / h, square 1.07 / h on odd h, triangle 0.75 / h^2 on odd h, soft saw's fundamental
// 0.74; symmetric waves carry no even harmonics.
TEST(Wavetables, HarmonicAmplitudesFollowTheirShapes) {
    using enum Wave;
    for (int h = 1; h <= 16; ++h) EXPECT_NEAR(harmonic(kSaw, h) * h / 0.577, 1.0, 0.03) << h;
    for (int h = 1; h <= 15; h += 2) EXPECT_NEAR(harmonic(kSquare, h) * h / 1.07, 1.0, 0.03) << h;
    for (int h = 1; h <= 7; h += 2) EXPECT_NEAR(harmonic(kTriangle, h) * h * h / 0.75, 1.0, 0.04) << h;
    for (int h = 2; h <= 32; h += 2) {
        EXPECT_LT(harmonic(kSquare, h), 1e-4) << h;
        EXPECT_LT(harmonic(kTriangle, h), 1e-4) << h;
        EXPECT_LT(harmonic(kSoftSquare, h), 1e-4) << h;
    }
    // The soft square matches the square low down and falls behind it above the 15th.
    for (int h = 1; h <= 9; h += 2)
        EXPECT_NEAR(harmonic(kSoftSquare, h) / harmonic(kSquare, h), 1.0, 0.03) << h;
    for (int h = 17; h <= 41; h += 2) EXPECT_LT(harmonic(kSoftSquare, h), 0.98 * harmonic(kSquare, h)) << h;
    EXPECT_NEAR(harmonic(kSoftSaw, 1) / 0.74, 1.0, 0.03);
    for (int h = 2; h <= 12; ++h) EXPECT_GT(harmonic(kSoftSaw, h) * h, 0.3) << h;
    // Square tops droop monotonically toward the next edge.
    for (int i = 1; i < 512; ++i)
        EXPECT_LT(wavetable(kSquare).value(i), wavetable(kSquare).value(i - 1)) << i;
}

}  // namespace
}  // namespace kf
