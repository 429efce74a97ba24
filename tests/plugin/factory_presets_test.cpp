// Every factory preset loads through the instance's own preset path. How each one sounds
// (level, peaks, the speech kept) is checked on the demo material by the benchmark tool
// preset-figures, which CTest runs as FactoryPresets.MeetTheirTargets.
#include <gtest/gtest.h>

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

TEST_P(FactoryPreset, LoadsUnderItsName) {
    FakeHost host;
    auto c = makeInstance(host);
    ASSERT_TRUE(c->loadPresetFile(GetParam()));
    EXPECT_TRUE(host.messages.messages().empty());
    EXPECT_EQ(c->currentProgramName(), std::filesystem::path(GetParam()).stem().string());
}

INSTANTIATE_TEST_SUITE_P(All, FactoryPreset, ::testing::ValuesIn(factoryPresets()), [](const auto& param) {
    std::string name = std::filesystem::path(param.param).stem().string();
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

}  // namespace
}  // namespace kf::test
