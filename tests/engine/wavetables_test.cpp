#include "engine/wavetables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

namespace kf {
namespace {

// Amplitude of harmonic h of the table (as a sinusoid's peak), by a direct DFT.
double harmonic(Wave w, int h, int32_t level = 0) {
    const Wavetable& t = wavetable(w, level);
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

// A level keeps its harmonics as the full wave has them and nothing above; the level chosen for a
// pitch is the richest one whose harmonics all stay below half the sample rate.
TEST(Wavetables, BandLimitedLevelsKeepTheirHarmonicsAndDropTheRest) {
    for (int32_t level : {1, 8, 17, kWaveLevels - 1}) {
        const int32_t top = waveLevelHarmonics(level);
        for (int h : {1, 2, 3, top - 1, top, top + 1, top + 7, 511}) {
            if (h < 1) continue;
            SCOPED_TRACE(testing::Message() << "level " << level << " harmonic " << h);
            if (h <= top) {
                EXPECT_NEAR(harmonic(Wave::kSaw, h, level), harmonic(Wave::kSaw, h), 1e-6);
            } else {
                EXPECT_LT(harmonic(Wave::kSaw, h, level), 1e-6);
            }
        }
    }
    EXPECT_EQ(&wavetable(Wave::kSaw, 0), &wavetable(Wave::kSaw));
    for (float cycles : {1e-4f, 1.0f / 1024, 0.0059f, 0.0474f, 0.2f, 0.49f}) {
        const int32_t level = waveLevelFor(cycles);
        EXPECT_LE(waveLevelHarmonics(level) * cycles, 0.5f) << cycles;
        // A richer level would pass half the rate (the top levels share their few harmonics).
        if (level > 0 && waveLevelHarmonics(level - 1) != waveLevelHarmonics(level)) {
            EXPECT_GT(waveLevelHarmonics(level - 1) * cycles, 0.5f) << cycles;
        }
    }
    EXPECT_EQ(waveLevelFor(0.0f), 0);
    EXPECT_EQ(waveLevelFor(std::nanf("")), 0);
    EXPECT_EQ(waveLevelFor(1.5f), kWaveLevels - 1);
}

}  // namespace
}  // namespace kf
