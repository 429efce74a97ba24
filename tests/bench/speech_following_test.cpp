// The speech-following figure on signals whose answer is known.
#include "speech_following.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace kf::measure {
namespace {

constexpr int kRate = 44100;

// White noise under a syllable-like envelope: bursts at a few hertz, a pause now and then.
std::vector<float> syllables(unsigned seed, int seconds = 3) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    std::vector<float> x(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double env = std::max(0.0, std::sin(2.0 * 3.14159265 * (3.0 + seed % 3) * t)) *
                           (0.6 + 0.4 * std::sin(2.0 * 3.14159265 * 0.4 * t));
        x[i] = static_cast<float>(env) * noise(rng);
    }
    return x;
}

TEST(SpeechFollowing, KnownCases) {
    const auto voice = syllables(1);
    const auto other = syllables(8);
    std::vector<float> delayed(voice.size(), 0.0f);
    for (std::size_t i = 220; i < voice.size(); ++i) delayed[i] = 0.25f * voice[i - 220];  // 5 ms, -12 dB
    const std::vector<float> silence(voice.size(), 0.0f);

    EXPECT_NEAR(speechFollowing(voice, voice), 1.0, 1e-9);
    EXPECT_GT(speechFollowing(voice, monoSum(delayed, voice)), 0.9);
    EXPECT_NEAR(speechFollowing(voice, other), 0.0, 0.1) << "an unrelated noise follows nothing";
    EXPECT_EQ(speechFollowing(voice, silence), 0.0);
    EXPECT_EQ(speechFollowing(silence, voice), 0.0) << "no voice frame to compare";
    // A stereo image that cancels in mono leaves nothing to follow.
    std::vector<float> inverted(voice);
    for (auto& s : inverted) s = -s;
    EXPECT_EQ(speechFollowing(voice, monoSum(voice, inverted)), 0.0);
    // A steady output has the spectrum but none of the motion.
    std::vector<float> steady(voice.size());
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    for (auto& s : steady) s = noise(rng);
    EXPECT_LT(speechFollowing(voice, steady), 0.1);
    // Where the voice is silent the output's hiss is not compared: a long pause with a
    // faint noise floor costs nothing.
    std::vector<float> paused(voice), hissing(voice.size());
    std::fill(paused.begin() + kRate, paused.begin() + 3 * kRate / 2, 0.0f);
    for (std::size_t i = 0; i < hissing.size(); ++i) hissing[i] = paused[i] + 0.001f * steady[i];
    EXPECT_GT(speechFollowing(paused, hissing), 0.95);
}

TEST(SpeechFollowing, BandShare) {
    std::vector<float> tone(kRate), low(kRate);
    for (int i = 0; i < kRate; ++i) {
        tone[static_cast<std::size_t>(i)] =
            static_cast<float>(std::sin(2.0 * 3.14159265 * 1000.0 * i / kRate));
        low[static_cast<std::size_t>(i)] = static_cast<float>(std::sin(2.0 * 3.14159265 * 100.0 * i / kRate));
    }
    EXPECT_NEAR(bandShareDb(tone, 500.0, 4000.0), 0.0, 0.01);
    EXPECT_LT(bandShareDb(low, 500.0, 4000.0), -60.0);
    // Equal energy inside and outside: half of it, -3 dB.
    EXPECT_NEAR(bandShareDb(monoSum(tone, low), 500.0, 4000.0), -3.01, 0.05);
}

}  // namespace
}  // namespace kf::measure
