// Both sides of the interface against code we did not write: our host loads a
// third-party plug-in, and a real host's scanner loads our plug-in.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>

#include "host/render.h"
#include "host/vst_host.h"
#include "support/xvfb.h"
#include "test_support.h"

namespace kf::host {
namespace {

constexpr const char* kDragonfly = "/usr/lib/lxvst/DragonflyRoomReverb-vst.so";
constexpr const char* kScanner = "/usr/lib/ardour7/ardour-vst-scanner";

TEST(ThirdPartyPlugin, ImpulseThroughAReverbLeavesAFiniteDecayingTail) {
    if (!std::filesystem::exists(kDragonfly)) GTEST_SKIP() << kDragonfly << " is not installed";
    std::string error;
    auto plugin = Plugin::load(kDragonfly, {}, error);
    ASSERT_NE(plugin, nullptr) << error;
    EXPECT_EQ(plugin->effectName(), "Dragonfly Room Reverb");
    ASSERT_EQ(plugin->numInputs(), 2);
    ASSERT_EQ(plugin->numOutputs(), 2);
    ASSERT_GT(plugin->numParams(), 0);
    EXPECT_FALSE(plugin->parameterName(0).empty());

    constexpr int kRate = 48000;
    std::vector<std::vector<float>> input(2, std::vector<float>(2 * kRate));
    input[0][0] = input[1][0] = 1.0f;
    RenderSettings settings;
    settings.sampleRate = kRate;
    settings.blockSize = 256;
    std::vector<std::vector<float>> output;
    ASSERT_TRUE(render(*plugin, input, 2 * kRate, output, settings, {}, error)) << error;

    // Energy of each channel in three windows: the tail is there, and it decays.
    auto energy = [&](std::size_t c, int from, int to) {
        double sum = 0.0;
        for (int i = from; i < to; ++i)
            sum += double(output[c][static_cast<std::size_t>(i)]) * output[c][static_cast<std::size_t>(i)];
        return sum;
    };
    for (std::size_t c = 0; c < 2; ++c) {
        for (const float v : output[c]) ASSERT_TRUE(std::isfinite(v));
        const double early = energy(c, kRate / 20, kRate / 4);  // 50 to 250 ms: well after the impulse
        const double late = energy(c, kRate, 2 * kRate);        // the second second
        EXPECT_GT(early, 1e-6) << "channel " << c << " has no reverb tail";
        EXPECT_LT(late, early) << "channel " << c << " does not decay";
    }
}

// The editor bench against an editor we did not write: the window, the capture and the
// xdotool pointer all have to work before our own editor can be judged with them.
TEST(ThirdPartyPlugin, EditorShownDrivenAndCapturedInARealWindow) {
    if (!std::filesystem::exists(kDragonfly)) GTEST_SKIP() << kDragonfly << " is not installed";
    if (!test::Xvfb::installed()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
    test::Xvfb server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    test::TempDir dir;
    const std::string shot = dir.file("shot.png"), script = dir.file("drag.txt");
    // 50 px up on the Size knob (parameter 4): the reverb turns a knob by a quarter of its range.
    const std::string text =
        "open\ndown 222 180\nmove 222 130\nup\nexpect param 4 +0.25 ±0.02\n"
        "expect no-open-edits\nexpect held 60\nsnapshot " +
        shot + "\nclose\n";
    test::writeBytes(script, test::Bytes(text.begin(), text.end()));
    const auto r = test::runCommand(test::shellQuote(KF_RENDER_PATH) + " --editor-script " +
                                    test::shellQuote(script) + " " + kDragonfly);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("line 7: expect held 60 not checked"), std::string::npos) << r.output;
    const test::Picture picture = test::readPicture(shot);
    EXPECT_GT(picture.width, 100);
    EXPECT_GT(picture.height, 100);
    EXPECT_GT(test::distinctColours(picture), 100u) << "the capture shows no editor";
}

// Runs the scanner on one plug-in with a private cache folder and returns what it said
// and the cache entry it wrote (empty when it wrote none). The scanner exits 0 even when
// it cannot use a plug-in, so only its output and its cache file tell success.
struct ScanResult {
    std::string output;
    std::string cache;
};

ScanResult scan(const test::TempDir& home, const std::string& plugin) {
    const std::string cacheHome = home.file("cache");
    const std::string command = "env HOME=" + test::shellQuote(home.path().string()) +
                                " XDG_CACHE_HOME=" + test::shellQuote(cacheHome) +
                                " XDG_CONFIG_HOME=" + test::shellQuote(home.file("config")) +
                                " LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 120 " + kScanner + " -f " +
                                test::shellQuote(plugin);
    ScanResult result;
    result.output = test::runCommand(command).output;
    std::error_code ec;
    if (!std::filesystem::exists(cacheHome)) return result;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(cacheHome, ec))
        if (entry.path().extension() == ".v2i") {
            std::ifstream file(entry.path());
            std::stringstream text;
            text << file.rdbuf();
            result.cache += text.str();
        }
    return result;
}

// The value of one attribute of the cache's VST2Info element.
std::string infoAttribute(const std::string& cache, const std::string& name) {
    std::smatch tag, value;
    if (!std::regex_search(cache, tag, std::regex("<VST2Info[^>]*>"))) return "<no VST2Info>";
    const std::string element = tag.str();
    if (!std::regex_search(element, value, std::regex("\\s" + name + "=\"([^\"]*)\"")))
        return "<no " + name + ">";
    return value[1].str();
}

// The scanner must find the plug-in under the expected name and maker, and read the same
// record our own host reads.
void expectScannerFinds(const std::string& plugin, const std::string& name, const std::string& creator,
                        int32_t uniqueId) {
    if (!std::filesystem::exists(kScanner)) GTEST_SKIP() << kScanner << " is not installed";
    std::string error;
    auto ours = Plugin::load(plugin, {}, error);
    ASSERT_NE(ours, nullptr) << error;

    test::TempDir home;
    const ScanResult r = scan(home, plugin);
    EXPECT_NE(r.output.find("Found Plugin:"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(name), std::string::npos) << r.output;
    ASSERT_FALSE(r.cache.empty()) << "no cache file written\n" << r.output;
    EXPECT_EQ(ours->uniqueId(), uniqueId);
    const std::pair<const char*, std::string> attributes[] = {
        {"name", name},
        {"creator", creator},
        {"id", std::to_string(uniqueId)},
        {"category", "Effect"},
        {"n_inputs", std::to_string(ours->numInputs())},
        {"n_outputs", std::to_string(ours->numOutputs())},
        {"can_process_replace", (ours->flags() & vst::effFlagsCanReplacing) ? "1" : "0"},
        {"has_editor", (ours->flags() & vst::effFlagsHasEditor) ? "1" : "0"},
        {"n_midi_inputs", ours->canDo("receiveVstMidiEvent") > 0 ? "1" : "0"}};
    for (const auto& [attribute, expected] : attributes)
        EXPECT_EQ(infoAttribute(r.cache, attribute), expected) << attribute << "\n" << r.cache;
}

#ifdef KF_PLUGIN_PATH
TEST(HostScanner, FindsKestrafone) {
    expectScannerFinds(KF_PLUGIN_PATH, "Kestrafone", "Tallow Mill", vst::fourCC('t', 'm', 'k', 'f'));
}
#endif

}  // namespace
}  // namespace kf::host
