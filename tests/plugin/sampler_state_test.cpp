// The sample travels with the state by reference to its file, and in analysis mode 3 the
// vocoder follows it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <numeric>

#include "fake_host.h"
#include "state/audio_file.h"

namespace kf::test {
namespace {

class SamplerState : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(folder);
        // Two seconds of a 200 Hz buzz whose loudness swells and falls four times.
        constexpr int kFrames = 88200;
        std::vector<float> l(kFrames), r(kFrames);
        for (int i = 0; i < kFrames; ++i) {
            const float t = static_cast<float>(i) / 44100.0f;
            envelope.push_back(0.5f - 0.5f * std::cos(6.2831853f * 2.0f * t));
            l[static_cast<std::size_t>(i)] =
                0.6f * envelope.back() * (std::fmod(200.0f * t, 1.0f) * 2.0f - 1.0f);
            r[static_cast<std::size_t>(i)] = l[static_cast<std::size_t>(i)];
        }
        TMAudioFile file;
        ASSERT_EQ(file.openWrite(path.c_str(), 44100), TMAudioFile::kOk);
        ASSERT_EQ(file.writeWav(l.data(), r.data(), kFrames), TMAudioFile::kOk);
        ASSERT_TRUE(file.close());
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    static std::vector<uint8_t> chunkOf(TMUniClient& c) {
        void* data = nullptr;
        const int32_t size = c.getChunk(&data, false);
        const auto* bytes = static_cast<const uint8_t*>(data);
        return std::vector<uint8_t>(bytes, bytes + size);
    }

    std::string folder =
        std::filesystem::temp_directory_path() / ("kf-sampler-" + std::to_string(::getpid()));
    std::string path = folder + "/phrase.wav";
    std::vector<float> envelope;
    FakeHost host;
};

TEST_F(SamplerState, TheSampleTravelsWithTheStateByReference) {
    auto c = makeInstance(host);
    ASSERT_TRUE(c->sample().loadFile(path));
    std::vector<uint8_t> saved = chunkOf(*c);

    FakeHost h2;
    auto restored = makeInstance(h2);
    ASSERT_EQ(restored->setChunk(saved.data(), static_cast<int32_t>(saved.size()), false), 1);
    EXPECT_EQ(restored->sample().frames(), 88200);
    EXPECT_EQ(restored->sample().path(), path);
    EXPECT_EQ(chunkOf(*restored), saved);

    // Without the file everything else is restored, the sampler is empty, and the state
    // still names the same file.
    std::filesystem::remove(path);
    FakeHost h3;
    auto orphan = makeInstance(h3);
    orphan->setParameter(tag::focus, 0.9f);
    ASSERT_EQ(orphan->setChunk(saved.data(), static_cast<int32_t>(saved.size()), false), 1);
    EXPECT_EQ(orphan->sample().frames(), 0);
    EXPECT_EQ(orphan->getParameter(tag::focus), c->getParameter(tag::focus));
    EXPECT_EQ(chunkOf(*orphan), saved);
    EXPECT_TRUE(h3.messages.messages().empty());
}

TEST_F(SamplerState, TheVocoderFollowsTheSampleInAnalysisModeThree) {
    auto c = makeInstance(host);
    ASSERT_TRUE(c->sample().loadFile(path));
    c->setSampleRate(44100.0f);
    c->resume();
    c->setParameter(tag::carrier_mode, 1.0f);    // the sampler is analysed
    c->setParameter(tag::modulator_mode, 1.0f);  // the synthesizer is the carrier
    c->setParameter(tag::mix, 1.0f);
    c->setParameter(tag::retrigger, 0.0f);  // started by the held note
    c->setParameter(tag::loop, 1.0f);
    c->setParameter(tag::sampler_level, 1.0f);
    c->setParameter(tag::sampler_pitch, 0.5f);
    c->setParameter(tag::octave, 0.5f);
    c->setParameter(tag::waveform, 0.5f);
    c->setParameter(tag::synth_level, 0.5f);
    c->setParameter(tag::response, 0.8f);
    c->setParameter(tag::focus, 0.6f);
    c->setParameter(tag::shift, 0.5f);  // unshifted: the carrier's bands meet the sample's
    c->setParameter(tag::filtertype, 1.0f);
    c->setParameter(tag::cutoff, 1.0f);
    for (int32_t t : {tag::eq_low, tag::eq_mid, tag::eq_high}) c->setParameter(t, 0.5f);
    c->setParameter(tag::master_level, 0.25f);
    c->setParameter(tag::mastercomp, 0.0f);
    playNotes(*c, {57});

    constexpr int kFrames = 88200;
    std::vector<float> silence(kFrames, 0.0f), l(kFrames), r(kFrames);
    for (int done = 0; done < kFrames; done += 512) {
        const int n = std::min(512, kFrames - done);
        float* in[2] = {silence.data() + done, silence.data() + done};
        float* out[2] = {l.data() + done, r.data() + done};
        c->processReplacing(in, out, n);
    }
    // Loudness in 20 ms frames: the output's must rise and fall with the sample's.
    std::vector<double> want, got;
    for (int i = 0; i + 882 <= kFrames; i += 882) {
        double e = 0;
        for (int k = i; k < i + 882; ++k)
            e += l[static_cast<std::size_t>(k)] * l[static_cast<std::size_t>(k)];
        got.push_back(std::sqrt(e / 882));
        want.push_back(envelope[static_cast<std::size_t>(i + 441)]);
    }
    const auto mean = [](const std::vector<double>& v) {
        return std::accumulate(v.begin(), v.end(), 0.0) / v.size();
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
