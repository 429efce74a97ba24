// The sample travels with the state by reference to its file, and in analysis mode 3 the
// vocoder follows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>

#include "fake_host.h"
#include "state/audio_file.h"
#include "support/temp_files.h"

namespace kf::test {
namespace {

constexpr int kFrames = 88200;

class SamplerState : public ::testing::Test {
  protected:
    void SetUp() override {
        // Two seconds of a 200 Hz buzz whose loudness swells and falls four times.
        std::vector<float> buzz(kFrames);
        for (int i = 0; i < kFrames; ++i) {
            const float t = static_cast<float>(i) / 44100.0f;
            envelope.push_back(0.5f - 0.5f * std::cos(6.2831853f * 2.0f * t));
            buzz[static_cast<std::size_t>(i)] =
                0.6f * envelope.back() * (std::fmod(200.0f * t, 1.0f) * 2.0f - 1.0f);
        }
        TMAudioFile file;
        ASSERT_EQ(file.openWrite(path.c_str(), 44100), TMAudioFile::kOk);
        ASSERT_EQ(file.writeWav(buzz.data(), buzz.data(), kFrames), TMAudioFile::kOk);
        ASSERT_TRUE(file.close());
    }
    TempDir dir;
    std::string path = dir.file("phrase.wav");
    std::vector<float> envelope;
    FakeHost host;
};

// The sample travels by reference to its file; the sampler record's start and end marker
// words carry the loop.
TEST_F(SamplerState, TheSampleAndItsLoopTravelWithTheState) {
    auto c = makeInstance(host);
    ASSERT_TRUE(c->sample().loadFile(path));
    ASSERT_TRUE(c->sample().snapLoopPoint(true, 1000));
    ASSERT_TRUE(c->sample().snapLoopPoint(false, 30000));
    const int32_t start = c->sample().startMarker(), end = c->sample().endMarker();
    const Words saved = chunkOf(*c);
    Words variant = saved;
    const auto record = std::find(variant.begin(), variant.end(), static_cast<int32_t>(0xE6D0324A));
    ASSERT_NE(record, variant.end());
    EXPECT_EQ(record[4], start);
    EXPECT_EQ(record[5], end);

    FakeHost h2;
    auto restored = makeInstance(h2);
    ASSERT_TRUE(loadChunk(*restored, saved));
    EXPECT_EQ(restored->sample().frames(), kFrames);
    EXPECT_EQ(restored->sample().path(), path);
    EXPECT_EQ(restored->sample().startMarker(), start);
    EXPECT_EQ(restored->sample().endMarker(), end);
    EXPECT_EQ(chunkOf(*restored), saved);

    // Earlier states stored start 0 and the frame count; the render tool stores 0 and 0;
    // markers that do not fit the file mean all of it.
    for (auto [s, e] : {std::pair{0, kFrames}, {0, 0}, {5000, kFrames + 1}, {-4, 10}}) {
        record[4] = s;
        record[5] = e;
        ASSERT_TRUE(loadChunk(*restored, variant));
        EXPECT_EQ(restored->sample().startMarker(), s == 5000 ? 5000 : 0) << s << " " << e;
        EXPECT_EQ(restored->sample().endMarker(), e == 10 ? 10 : kFrames) << s << " " << e;
    }

    // Without the file everything else is restored, the sampler is empty, and the state
    // still names the same file.
    std::filesystem::remove(path);
    FakeHost h3;
    auto orphan = makeInstance(h3);
    orphan->setParameter(tag::focus, 0.9f);
    ASSERT_TRUE(loadChunk(*orphan, saved));
    EXPECT_EQ(orphan->sample().frames(), 0);
    EXPECT_EQ(orphan->getParameter(tag::focus), c->getParameter(tag::focus));
    EXPECT_EQ(chunkOf(*orphan), saved);
    EXPECT_TRUE(h3.messages.messages().empty());
}

TEST_F(SamplerState, TheVocoderFollowsTheSampleInAnalysisModeThree) {
    auto c = makeNeutralInstance(host);
    ASSERT_TRUE(c->sample().loadFile(path));
    makePlayedVocoder(*c);
    // The sampler, started by the held note, is analysed; the carrier's bands meet the sample's.
    setAll(*c, {Value(tag::carrier_mode, 1.0f), Value(tag::retrigger, 0.0f), Value(tag::loop, 1.0f),
                Value(tag::sampler_level, 1.0f), Value(tag::sampler_pitch, 0.5f), Value(tag::waveform, 0.5f),
                Value(tag::synth_level, 0.5f), Value(tag::response, 0.8f)});
    playNotes(*c, {57});
    const std::vector<float> silence(kFrames, 0.0f), l = render(*c, silence, silence, 512);

    // Loudness in 20 ms frames: the output's must rise and fall with the sample's.
    std::vector<double> want, got;
    for (std::size_t i = 0; i + 882 <= kFrames; i += 882) {
        got.push_back(std::sqrt(energy(l, i, i + 882) / 882));
        want.push_back(envelope[i + 441]);
    }
    const auto mean = [](const std::vector<double>& v) {
        return std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
    };
    const double mw = mean(want), mg = mean(got);
    double cov = 0, vw = 0, vg = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        cov += (want[i] - mw) * (got[i] - mg);
        vw += (want[i] - mw) * (want[i] - mw);
        vg += (got[i] - mg) * (got[i] - mg);
    }
    ASSERT_GT(vg, 0.0) << "the output is constant";
    EXPECT_GT(cov / std::sqrt(vw * vg), 0.7);
}

}  // namespace
}  // namespace kf::test
