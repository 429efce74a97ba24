// The Linux plug-in held to what the Windows build's tests hold the DLL to (tests/windows):
// one committed description of what a host sees, and a state the DLL made, which must load
// here and come back byte for byte.
#include <gtest/gtest.h>

#include "support/plugin_facts.h"
#include "support/scratch_settings.h"
#include "support/temp_files.h"

namespace kf::test {
namespace {

class CrossPlatform : public ::testing::Test {
  protected:
    void SetUp() override { useScratchSettings(settings_.path()); }
    std::unique_ptr<host::Plugin> load() {
        std::string error;
        auto plugin = host::Plugin::load(KF_PLUGIN_PATH, {}, error);
        EXPECT_TRUE(plugin) << error;
        if (plugin) plugin->start(44100, 512);
        return plugin;
    }
    TempDir settings_;
};

TEST_F(CrossPlatform, ThePluginDescribesItselfAsTheWindowsBuildMust) {
    auto plugin = load();
    ASSERT_TRUE(plugin);
    const Descriptions d = describeBesideCommitted(*plugin, "plugin-facts.linux.txt");
    EXPECT_EQ(d.actual, d.committed);
}

TEST_F(CrossPlatform, AStateTheWindowsBuildMadeLoadsAndComesBackByteForByte) {
    // This build's state after the steps, to be committed as linux.kfn for the Windows
    // tests whenever the state's form changes.
    auto maker = load();
    ASSERT_TRUE(maker);
    applyRecipe(*maker);
    writeBytes("linux.kfn", maker->getChunk());

    auto plugin = load();
    const Bytes fromWindows = readBytes(crossPlatformData() / "windows.kfn");
    ASSERT_FALSE(fromWindows.empty());
    EXPECT_EQ(plugin->setChunk(fromWindows), 1);
    EXPECT_EQ(plugin->getChunk(), fromWindows);
    for (int32_t i = 0; i < plugin->numParams(); ++i) EXPECT_EQ(plugin->parameter(i), recipeValue(i)) << i;
}

}  // namespace
}  // namespace kf::test
