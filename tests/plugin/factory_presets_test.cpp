// Every factory preset loads and, played with a chord over a voice-like input, sounds.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "fake_host.h"

namespace kf::test {
namespace {

std::vector<std::string> factoryPresets() {
    std::vector<std::string> paths;
    for (const auto& e : std::filesystem::directory_iterator(KF_SOURCE_DIR "/resources/presets"))
        if (e.path().extension() == ".kfn") paths.push_back(e.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

class FactoryPreset : public ::testing::TestWithParam<std::string> {};

TEST(FactoryPresets, TheSetIsComplete) {
    const auto presets = factoryPresets();
    EXPECT_GE(presets.size(), 9u);
    EXPECT_TRUE(std::filesystem::exists(KF_SOURCE_DIR "/resources/presets/default.kfn"));
}

TEST_P(FactoryPreset, LoadsAndSounds) {
    FakeHost host;
    auto c = makeInstance(host);
    ASSERT_TRUE(c->loadPresetFile(GetParam()));
    EXPECT_TRUE(host.messages.messages().empty());
    EXPECT_EQ(c->currentProgramName(), std::filesystem::path(GetParam()).stem().string());

    playNotes(*c, {57, 60, 64});

    // A buzzy 150 Hz tone whose loudness moves like syllables, on both inputs.
    constexpr int kFrames = 44100;
    std::vector<float> a(kFrames), l(kFrames), r(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const float t = static_cast<float>(i) / 44100.0f;
        const float env = 0.5f + 0.5f * std::sin(6.2831853f * 3.0f * t);
        a[static_cast<std::size_t>(i)] = 0.3f * env * (std::fmod(150.0f * t, 1.0f) * 2.0f - 1.0f);
    }
    for (int done = 0; done < kFrames; done += 512) {
        const int n = std::min(512, kFrames - done);
        float* in[2] = {a.data() + done, a.data() + done};
        float* out[2] = {l.data() + done, r.data() + done};
        c->processReplacing(in, out, n);
    }
    double energy[2] = {0, 0};
    for (int i = kFrames / 4; i < kFrames; ++i) {
        ASSERT_TRUE(std::isfinite(l[static_cast<std::size_t>(i)]) &&
                    std::isfinite(r[static_cast<std::size_t>(i)]));
        energy[0] += l[static_cast<std::size_t>(i)] * l[static_cast<std::size_t>(i)];
        energy[1] += r[static_cast<std::size_t>(i)] * r[static_cast<std::size_t>(i)];
    }
    const double rms[2] = {std::sqrt(energy[0] / (kFrames * 0.75)), std::sqrt(energy[1] / (kFrames * 0.75))};
    EXPECT_GT(rms[0], 1e-3) << "left is (nearly) silent";
    EXPECT_GT(rms[1], 1e-3) << "right is (nearly) silent";
    EXPECT_LT(rms[0], 1.0);
}

INSTANTIATE_TEST_SUITE_P(All, FactoryPreset, ::testing::ValuesIn(factoryPresets()), [](const auto& param) {
    std::string name = std::filesystem::path(param.param).stem().string();
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

}  // namespace
}  // namespace kf::test
