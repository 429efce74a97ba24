#include "engine/sample_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/sampler_controls.h"
#include "state/sample_data.h"

namespace kf {
namespace {

using Controls = TMSampleReader::Controls;
constexpr int kBlock = TMSampleReader::kBlock;
// A gain of 32768 plays the stored 16-bit values unscaled, so a ramp shows the position.
constexpr float kUnity = 32768.0f;

std::vector<int16_t> ramp(int frames, int step = 1) {
    std::vector<int16_t> v(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) v[static_cast<std::size_t>(i)] = static_cast<int16_t>(i * step);
    return v;
}

struct Rig {
    TMSystemInfo info;
    TMSampleData sample;
    TMSampleReader reader{info, sample};

    void load(const std::vector<int16_t>& left, const int16_t* right = nullptr, float rate = 44100.0f) {
        ASSERT_TRUE(sample.assignSample(left.data(), right, static_cast<int32_t>(left.size()), rate));
    }
    // One control block as the engine runs it: the counter is 0 when the sampler refills.
    std::vector<float> block(const Controls& c, std::vector<float>* right = nullptr) {
        info.controlCounter = 0;
        std::vector<float> l(kBlock), r(kBlock);
        reader.refill(c, l.data(), r.data());
        if (right) *right = r;
        return l;
    }
};

// Frame values start, start + step, ... of a unity-gain ramp.
std::vector<float> frames(float start, float step = 1.0f, int count = kBlock) {
    std::vector<float> v;
    for (int k = 0; k < count; ++k) v.push_back(start + static_cast<float>(k) * step);
    return v;
}
std::vector<float> concat(std::vector<float> a, const std::vector<float>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// `count` looping blocks at unity gain and centre pitch, one after another.
std::vector<float> looped(Rig& rig, int count) {
    std::vector<float> played;
    for (int b = 0; b < count; ++b) played = concat(played, rig.block({1.0f, kUnity, 0.0f, -1}));
    return played;
}
// A unity ramp 0 .. length-1, repeated over `count` blocks.
std::vector<float> ramps(int length, int count) {
    std::vector<float> v;
    for (int t = 0; t < count * kBlock; ++t) v.push_back(static_cast<float>(t % length));
    return v;
}
const std::vector<float> kSilence(kBlock, 0.0f);

TEST(SampleReader, StartsAtRiseFollowsOnAndTracksGain) {
    Rig rig;
    const auto left = ramp(200, 2);
    const auto right = ramp(200, -3);
    rig.load(left, right.data());

    EXPECT_EQ(rig.block({0.0f, kUnity}), kSilence);
    EXPECT_FALSE(rig.reader.playing());
    std::vector<float> r;
    EXPECT_EQ(rig.block({1.0f, kUnity}, &r), frames(0, 2));
    EXPECT_EQ(r, frames(0, -3));
    EXPECT_EQ(rig.block({1.0f, kUnity}), frames(64, 2));
    EXPECT_FLOAT_EQ(rig.sample.playbackPosition(), 64.0f);
    // A new gain scales the whole of the next block.
    EXPECT_EQ(rig.block({1.0f, kUnity / 2}), frames(64, 1));

    // A mono sample gives identical channels.
    rig.load(ramp(200, 5));
    rig.block({0.0f, kUnity});
    EXPECT_EQ(rig.block({1.0f, kUnity}, &r), frames(0, 5));
    EXPECT_EQ(r, frames(0, 5));
}

TEST(SampleReader, RateFollowsPitchAndTheSampleRates) {
    Rig rig;
    rig.load(ramp(1000), nullptr, 22050.0f);
    SamplerControls controls(rig.info);
    controls.setPitch(1.0f);  // +24 semitones: four times as fast, halved by 22050 / 44100
    controls.applyPending();
    ASSERT_FLOAT_EQ(controls.pitch(), 24.0f);
    const auto out = rig.block({1.0f, kUnity, controls.pitch()});
    EXPECT_NEAR(rig.reader.rate(), 2.0f, 1e-5f);
    for (int k = 0; k < kBlock; ++k) EXPECT_NEAR(out[static_cast<std::size_t>(k)], 2.0f * k, 1e-3f);

    // Centre pitch with a file at the host rate steps exactly one frame, from the next block.
    rig.info.setSampleRate(48000.0f);
    rig.load(ramp(1000), nullptr, 48000.0f);
    controls.setPitch(0.5f);
    controls.applyPending();
    const auto from = static_cast<float>(rig.reader.position());
    EXPECT_EQ(rig.block({1.0f, kUnity, controls.pitch()}), frames(from));
    EXPECT_EQ(rig.reader.rate(), 1.0f);

    // Fractional steps interpolate linearly between neighbouring frames.
    rig.info.setSampleRate(44100.0f);
    rig.load(ramp(1000, 7));
    rig.block({0.0f, kUnity});
    const auto up = rig.block({1.0f, kUnity, -5.0f});  // 2^(-5/12) = 0.749...
    const float rate = rig.reader.rate();
    ASSERT_NEAR(rate, 0.7491535f, 1e-6f);
    for (int k = 0; k < kBlock; ++k) EXPECT_NEAR(up[static_cast<std::size_t>(k)], 7.0f * rate * k, 1e-3f);
}

// Past 2^24 frames (6 min 20 s at 44.1 kHz) a float position has no fractional frames left;
// a long sample must still play at its pitch there.
TEST(SampleReader, LongSampleKeepsItsPitchPastTwoToThe24Frames) {
    Rig rig;
    const int32_t length = (1 << 24) + (1 << 21);
    // 441 Hz: exactly 100 frames per period.
    std::vector<int16_t> sine(static_cast<std::size_t>(length));
    for (int32_t i = 0; i < length; ++i)
        sine[static_cast<std::size_t>(i)] =
            static_cast<int16_t>(std::lround(16000.0 * std::sin(M_PI * (i % 100) / 50.0)));
    rig.load(sine);
    rig.block({0.0f, 1.0f});
    while (rig.reader.position() < (1 << 24) + 1000) rig.block({1.0f, 1.0f, 24.0f});  // run ahead fast
    for (float semitones : {0.5f, 0.0f}) {
        std::vector<float> out;
        for (int b = 0; b < 1400; ++b) out = concat(out, rig.block({1.0f, 1.0f, semitones}));
        // Rising zero crossings after the first block (the rate changes one block late),
        // placed by linear interpolation.
        std::vector<double> at;
        for (std::size_t i = kBlock + 1; i < out.size(); ++i)
            if (out[i - 1] < 0.0f && out[i] >= 0.0f)
                at.push_back(static_cast<double>(i - 1) + out[i - 1] / (out[i - 1] - out[i]));
        ASSERT_GT(at.size(), 100u);
        const double period = (at.back() - at.front()) / static_cast<double>(at.size() - 1);
        // The rate comes from the interpolated pitch table, within 0.05 % of 2^(semitones/12).
        EXPECT_NEAR(rig.reader.rate(), std::pow(2.0, semitones / 12.0), 5e-4);
        EXPECT_NEAR(44100.0 / period, 441.0 * rig.reader.rate(), 0.01) << semitones;
        // Every period lasts the same to a small fraction of a frame: the position does not jitter.
        for (std::size_t j = 1; j < at.size(); ++j) ASSERT_NEAR(at[j] - at[j - 1], period, 0.05) << semitones;
    }
}

TEST(SampleReader, OneShotEndsZeroesTheRestAndCanRestartAtOnce) {
    Rig rig;
    rig.load(ramp(40));
    EXPECT_EQ(rig.block({1.0f, kUnity}), frames(0));
    // The sample runs out: the rest of the block is silent.
    EXPECT_EQ(rig.block({1.0f, kUnity}), concat(frames(32, 1, 8), std::vector<float>(24, 0.0f)));
    EXPECT_TRUE(rig.reader.ended());
    // Without a rise the next block is silent and playback idles.
    EXPECT_EQ(rig.block({1.0f, kUnity}), kSilence);
    EXPECT_FALSE(rig.reader.playing());
    EXPECT_FALSE(rig.reader.ended());
    EXPECT_EQ(rig.block({1.0f, kUnity}), kSilence);

    // Muted by a fall, the sample runs out; a rise in the very next block restarts it
    // instead of being taken for the end.
    rig.block({0.0f, 0.0f});
    EXPECT_EQ(rig.block({1.0f, kUnity}), frames(0));
    rig.block({0.0f, 0.0f});
    EXPECT_TRUE(rig.reader.ended());
    EXPECT_EQ(rig.block({1.0f, kUnity}), frames(0));
}

TEST(SampleReader, PlaysFromTheStartMarkerAndLoopsAtTheEndMarker) {
    Rig rig;
    rig.load(ramp(40));
    EXPECT_EQ(looped(rig, 10), ramps(40, 10));
    EXPECT_EQ(rig.reader.loopEnd(), 40.0);

    // Frames 5..19 over and over; the markers stay as they were set.
    rig.sample.setStartMarker(5);
    rig.sample.setEndMarker(20);
    rig.block({0.0f, kUnity});
    std::vector<float> want;
    for (int t = 0; t < 3 * kBlock; ++t) want.push_back(static_cast<float>(5 + t % 15));
    EXPECT_EQ(looped(rig, 3), want);
    EXPECT_EQ(rig.sample.startMarker(), 5);
    EXPECT_EQ(rig.sample.endMarker(), 20);

    // An end of 0 is the whole sample, whatever loop end was used before.
    rig.sample.setEndMarker(0);
    rig.block({0.0f, kUnity});
    want.clear();
    for (int t = 0; t < 2 * kBlock; ++t) want.push_back(static_cast<float>(5 + t % 35));
    EXPECT_EQ(looped(rig, 2), want);

    // Without looping the sample plays from the start marker through to its end.
    rig.sample.setEndMarker(20);
    rig.block({0.0f, kUnity});
    EXPECT_EQ(rig.block({1.0f, kUnity}), frames(5));
    EXPECT_EQ(rig.block({1.0f, kUnity}), concat(frames(37, 1, 3), std::vector<float>(29, 0.0f)));
}

TEST(SampleReader, TransportTriggerStartsAndSilencesWithoutStopping) {
    Rig rig;
    rig.load(ramp(1000));
    SamplerControls controls(rig.info);
    controls.setTrigger(1.0f);  // the transport
    controls.setLevel(1.0f);
    controls.applyPending();
    const auto block = [&] {
        return rig.block({controls.trigger(), controls.gain() * kUnity, 0.0f, controls.loopCount()});
    };
    const auto transport = [&](bool playing) {
        rig.info.transportPlaying = playing ? 1.0f : 0.0f;
        controls.updateTrigger();
    };

    // Stopped transport silences playback without stopping it; a new start begins again.
    for (auto [playing, start] : {std::pair{false, -1}, {true, 0}, {true, 32}, {false, -1}, {false, -1}}) {
        transport(playing);
        EXPECT_EQ(block(), start < 0 ? kSilence : frames(static_cast<float>(start)));
    }
    EXPECT_TRUE(rig.reader.playing());
    EXPECT_EQ(rig.reader.position(), 128.0);
    transport(true);
    EXPECT_EQ(block(), frames(0));
}

TEST(SampleReader, SingleNoteTriggerMutesOnSecondKeyAndRestartsOnRelease) {
    Rig rig;
    rig.load(ramp(1000));
    SamplerControls controls(rig.info);
    controls.setTrigger(0.6f);  // exactly one note held
    controls.setLevel(1.0f);
    controls.applyPending();
    const auto block = [&] { return rig.block({controls.trigger(), controls.gain() * kUnity}); };
    const auto held = [&](int32_t notes) {
        controls.setNoteView(0.5f, notes);
        controls.updateTrigger();
    };

    // A second key mutes without stopping, its release restarts; a second key and its release
    // within one control block are never seen.
    const std::pair<std::vector<int32_t>, int> steps[] = {{{1}, 0}, {{2}, -1}, {{1}, 0}, {{2, 1}, 32}};
    for (const auto& [notes, start] : steps) {
        for (int32_t n : notes) held(n);
        EXPECT_EQ(block(), start < 0 ? kSilence : frames(static_cast<float>(start))) << notes.size();
        EXPECT_TRUE(rig.reader.playing());
    }

    // A second note that keeps the trigger up changes only the level.
    controls.setTrigger(0.0f);  // last velocity
    rig.info.lastVelocityWeight = 0.25f;
    controls.applyPending();
    EXPECT_EQ(block(), frames(16, 0.25f));
}

TEST(SampleReader, NoUsableSampleGivesSilence) {
    Rig rig;
    EXPECT_EQ(rig.block({1.0f, kUnity, 0.0f, -1}), kSilence);
    EXPECT_FALSE(rig.reader.playing());

    rig.load(ramp(100));
    rig.block({0.0f, kUnity});
    EXPECT_NE(rig.block({1.0f, kUnity, 0.0f, -1}), kSilence);
    rig.sample.clear();
    EXPECT_EQ(rig.block({1.0f, kUnity, 0.0f, -1}), kSilence);
    EXPECT_FALSE(rig.reader.playing());
    rig.block({0.0f, kUnity});
    EXPECT_EQ(rig.block({1.0f, kUnity, 0.0f, -1}), kSilence);
}

TEST(SampleReader, StaleOrCorruptPointsNeverReadOutsideTheSample) {
    Rig rig;
    rig.load(ramp(100));
    looped(rig, 3);
    // Replaced by a shorter sample: the position restarts and the old loop end is cut short.
    rig.load(ramp(10));
    EXPECT_EQ(looped(rig, 2), ramps(10, 2));

    // Markers beyond the sample, crossed, negative or one frame apart; then a rate far
    // beyond any real one. Every frame must still come from the sample (0..9).
    const std::pair<int32_t, int32_t> markers[] = {
        {0, std::numeric_limits<int32_t>::max()}, {9, 3}, {-3, -3}, {100, 1}, {8, 9}};
    for (auto [start, end] : markers) {
        rig.sample.setStartMarker(start);
        rig.sample.setEndMarker(end);
        for (float pitch : {0.0f, 24.0f}) {
            rig.block({0.0f, kUnity});
            for (int b = 0; b < 4; ++b)
                for (float v : rig.block({1.0f, kUnity, pitch, -1})) ASSERT_TRUE(v >= 0.0f && v <= 9.0f) << v;
        }
    }
    rig.load(ramp(10), nullptr, std::numeric_limits<float>::infinity());
    for (int b = 0; b < 4; ++b)
        for (float v : rig.block({1.0f, kUnity, 24.0f, -1})) ASSERT_TRUE(v >= 0.0f && v <= 9.0f) << v;
}

}  // namespace
}  // namespace kf
