// Our editor in a real X11 window under a private Xvfb, embedded the way Linux hosts embed
// it: a child of the host's window, opened, idled and closed from one thread while an
// audio thread processes. The sanitizer build runs these too, so leaks show there.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <tuple>

#include "host/audio_feed.h"
#include "host/editor_window.h"
#include "host/sound_file.h"
#include "support/plugin_facts.h"
#include "support/signals.h"
#include "support/xvfb.h"
#include "test_support.h"

namespace kf::host {
namespace {

using test::contains;

// Script steps that need no window run against the fake plug-in (which has no editor) with
// its audio thread going; each outcome has its own exit code.
TEST(EditorScriptTool, OutcomesAndExitCodes) {
    test::TempDir dir;
    const std::string fake = " " + test::shellQuote(FAKE_VSTMAIN_PATH);
    const std::string script = dir.file("script.txt"),
                      withScript = "--editor-script " + test::shellQuote(script);
    const std::vector<std::tuple<std::string, std::string, int, std::string>> cases = {
        {"process 4410\nexpect param 0 0.5\nexpect param 1 +0 # unchanged\nexpect no-open-edits", withScript,
         0, "4 steps passed"},
        {"process 64\nexpect param 0 0.25 ±0.2", withScript, 4,
         "line 2: expect param 0: it reads 0.5000, expected 0.2500"},
        {"expect param 3 0", withScript, 4, "line 1: expect param: the plug-in has no parameter 3"},
        {"\nwheel 10 10 +1", withScript, 4, "line 2: wheel needs an open editor"},
        {"idle\nopen", withScript, 3, "has no editor of its own"},
        {"frobnicate", withScript, 2, "line 1: unknown step 'frobnicate'"},
        {"", "--editor-shot x.png", 3, "has no editor of its own"},
        {"", "--show-editor --editor-shot x.png", 1, "choose one of --show-editor, --editor-script and"},
        {"", "--editor-shot x.png --output x.wav", 1, "--output cannot be combined with --editor-shot"},
    };
    for (const auto& [text, arguments, code, message] : cases) {
        test::writeBytes(script, test::Bytes(text.begin(), text.end()));
        const auto r = test::runCommand(test::shellQuote(KF_RENDER_PATH) + " " + arguments + fake);
        EXPECT_EQ(r.exitCode, code) << text << "\n" << r.output;
        EXPECT_TRUE(contains(r.output, message))
            << text << "\nexpected: " << message << "\ngot: " << r.output;
    }
}

#ifdef KF_PLUGIN_PATH

constexpr int kWidth = 503, kHeight = 404;
const std::string kGoldenPage = KF_SOURCE_DIR "/tests/editor/golden/default-page.png";

// The geometry ("WxH+X+Y") of each direct child of a window, as xwininfo reports it.
std::vector<std::string> childGeometries(unsigned long window) {
    const auto r = test::runCommand("xwininfo -children -id " + std::to_string(window));
    std::vector<std::string> children;
    const std::regex child(R"(^\s+0x[0-9a-f]+ .*\)\s+(\d+x\d+\+-?\d+\+-?\d+))");
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);)
        if (std::smatch m; std::regex_search(line, m, child)) children.push_back(m[1]);
    return children;
}

// The sanitizers' allocators hold freed memory back on purpose: there the resident size says
// nothing about what the editor keeps.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPlainAllocator = false;
#else
constexpr bool kPlainAllocator = true;
#endif

// The process's resident memory in bytes (0 when /proc cannot tell).
std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

std::size_t openDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// A capture shows the off-screen render of the same page: at most 0.1 % of the pixels may
// differ, by more than 2 levels in a channel.
void expectGoldenPage(const std::string& capture) {
    const test::Picture shot = test::readPicture(capture), golden = test::readPicture(kGoldenPage);
    ASSERT_EQ(shot.width, kWidth) << capture;
    ASSERT_EQ(shot.height, kHeight);
    ASSERT_EQ(golden.pixels.size(), shot.pixels.size()) << kGoldenPage;
    EXPECT_LE(test::differingPixels(shot, golden, 2), shot.pixels.size() / 1000) << capture;
}

class EditorInAWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::Xvfb::installed()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
        setenv("KESTRAFONE_SETTINGS_DIR", dir_.file("settings").c_str(), 1);
        server_ = std::make_unique<test::Xvfb>();
        ASSERT_FALSE(server_->display().empty()) << "Xvfb did not start";
        std::string error;
        plugin_ = Plugin::load(KF_PLUGIN_PATH, {}, error);
        ASSERT_NE(plugin_, nullptr) << error;
        feed_ = std::make_unique<AudioFeed>(*plugin_, std::vector<std::vector<float>>{}, RenderSettings{});
        feed_->start();
    }
    void TearDown() override {
        feed_.reset();
        plugin_.reset();
        server_.reset();
    }
    std::unique_ptr<EditorWindow> openWindow() {
        std::string error;
        auto window = EditorWindow::open(*plugin_, error);
        EXPECT_NE(window, nullptr) << error;
        if (window) window->idleFor(std::chrono::milliseconds(60));
        return window;
    }
    test::CommandResult runTool(const std::string& arguments) {
        return test::runCommand("cd " + test::shellQuote(dir_.path().string()) + " && " +
                                test::shellQuote(KF_RENDER_PATH) + " " + arguments + " " +
                                test::shellQuote(KF_PLUGIN_PATH));
    }

    test::TempDir dir_;
    std::unique_ptr<test::Xvfb> server_;
    std::unique_ptr<Plugin> plugin_;
    std::unique_ptr<AudioFeed> feed_;
};

TEST_F(EditorInAWindow, ChildWindowFillsTheParentAndOutlivesIt) {
    {
        auto window = openWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->width(), kWidth);
        EXPECT_EQ(window->height(), kHeight);
        EXPECT_EQ(childGeometries(window->windowId()), std::vector<std::string>{"503x404+0+0"});
        // A host that tears its window down before it closes the editor.
        window->destroyWindow();
        window->idleFor(std::chrono::milliseconds(100));
        window->closeEditor();
        EXPECT_EQ(window->protocolErrors(), 0) << window->lastProtocolError();
    }
    auto again = openWindow();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(childGeometries(again->windowId()).size(), 1u) << "the instance shows its editor again";
}

// A host that opens and closes the editor again and again: no window, connection, file or
// memory may pile up (a font or bitmaps kept per open would show in the resident size).
TEST_F(EditorInAWindow, OpenCloseCyclesLeaveNothingBehind) {
    // glibc raises its threshold for serving large blocks with mmap the first time it frees
    // one; back buffers may then come from the heap, whose fragmentation shows as a one-off
    // step of a few MB. A fixed threshold keeps the figure to what the editor holds.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    auto window = openWindow();
    ASSERT_NE(window, nullptr);
    window->closeEditor();
    window->idle();
    const std::size_t descriptors = openDescriptors();
    std::size_t residentAt10 = 0;
    // The sanitizers' slower builds check the windows and descriptors over fewer cycles.
    const int cycles = kPlainAllocator ? 200 : 50;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        std::string error;
        ASSERT_TRUE(window->openEditor(error)) << "cycle " << cycle << ": " << error;
        window->idle();
        window->idle();
        window->closeEditor();
        if (cycle == 10) residentAt10 = residentBytes();
    }
    EXPECT_EQ(openDescriptors(), descriptors) << "each open leaves a connection or file open";
    EXPECT_TRUE(childGeometries(window->windowId()).empty()) << "a closed editor left its window behind";
    EXPECT_EQ(window->protocolErrors(), 0) << window->lastProtocolError();
    EXPECT_TRUE(feed_->running()) << feed_->error();
    if (kPlainAllocator) {
        EXPECT_LE(residentBytes(), residentAt10 + (1u << 20))
            << "resident memory grew from " << residentAt10 / 1024 << " kB after cycle 10";
    }
}

// The render tool's picture, and the off-screen runner's script played with xdotool: both
// show the page the off-screen editor renders.
TEST_F(EditorInAWindow, CapturesMatchTheOffscreenPage) {
    const auto shot = runTool("--editor-shot shot.png");
    ASSERT_EQ(shot.exitCode, 0) << shot.output;
    expectGoldenPage(dir_.file("shot.png"));

    const auto played = runTool("--editor-script " +
                                test::shellQuote(KF_SOURCE_DIR "/tests/editor/scripts/default-page.txt"));
    ASSERT_EQ(played.exitCode, 0) << played.output;
    EXPECT_TRUE(contains(played.output, "steps passed")) << played.output;
    expectGoldenPage(dir_.file("default-page.png"));
}

// A right-click on the focus knob, sent through the X server, opens the learn menu at the
// pointer: the capture differs from the page in a box at the pointer as tall as the menu's two
// rows and its border, and hardly anywhere else.
TEST_F(EditorInAWindow, ARightClickOnAKnobOpensItsLearnMenu) {
    const auto played =
        runTool("--editor-script " + test::shellQuote(KF_SOURCE_DIR "/tests/editor/scripts/learn-menu.txt"));
    ASSERT_EQ(played.exitCode, 0) << played.output;
    const test::Picture shot = test::readPicture(dir_.file("learn-menu.png")),
                        page = test::readPicture(kGoldenPage);
    ASSERT_EQ(shot.pixels.size(), page.pixels.size());
    const int left = 358, top = 105, bottom = top + 2 * 16 + 2, right = left + 48;  // the narrowest menu
    std::size_t inside = 0, outside = 0, below = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const auto i = static_cast<std::size_t>(y * kWidth + x);
            const int changed = test::pixelsDiffer(shot.pixels[i], page.pixels[i], 2);
            const bool inMenuColumns = x >= left && x < left + 150;
            if (y >= top && y < bottom && x >= left && x < right)
                inside += changed;
            else if (!inMenuColumns || y < top)
                outside += changed;
            else if (y >= bottom)
                below += changed;
        }
    EXPECT_GT(inside, std::size_t{(bottom - top) * (right - left) / 2}) << "no menu at the pointer";
    EXPECT_LE(outside, shot.pixels.size() / 1000);
    EXPECT_LE(below, shot.pixels.size() / 1000) << "the menu is taller than two rows";
}

// A sample chosen in the view (through a stand-in dialog program) shows its waveform: the
// left channel, all positive, above its centre line in the upper half; the right, all
// negative, below its centre line in the lower half.
TEST_F(EditorInAWindow, ASampleChosenInTheViewShowsItsWaveform) {
    const std::string sample = dir_.file("tone.wav"), bin = dir_.file("bin");
    SoundData tone{44100, {std::vector<float>(44100), std::vector<float>(44100)}};
    for (std::size_t i = 0; i < 44100; ++i) {
        tone.channels[0][i] = 0.6f + 0.3f * std::sin(0.003f * static_cast<float>(i));
        tone.channels[1][i] = -tone.channels[0][i];
    }
    std::string error;
    ASSERT_TRUE(writeSoundFile(sample, tone, Container::Wav, SampleFormat::Pcm24, error)) << error;
    std::filesystem::create_directory(bin);
    const std::string dialog = "#!/bin/sh\necho " + test::shellQuote(sample) + "\n";
    test::writeBytes(bin + "/zenity", test::Bytes(dialog.begin(), dialog.end()));
    std::filesystem::permissions(bin + "/zenity", std::filesystem::perms::owner_all);
    // The carrier menu's fourth entry shows the sampler panel; then a click on the view.
    const std::string script =
        "open\nidle 3\ndown 150 49\nup\nidle 2\ndown 150 112\nup\nidle 3\n"
        "down 60 105\nup\nprocess 22050\nidle 5\nsnapshot sample.png\n";
    test::writeBytes(dir_.file("script.txt"), test::Bytes(script.begin(), script.end()));
    const auto played = test::runCommand(
        "cd " + test::shellQuote(dir_.path().string()) + " && PATH=" + test::shellQuote(bin) + ":\"$PATH\" " +
        test::shellQuote(KF_RENDER_PATH) + " --editor-script script.txt " + test::shellQuote(KF_PLUGIN_PATH));
    ASSERT_EQ(played.exitCode, 0) << played.output;

    // The wave area is 93 x 23 pixels from (12, 95), the lanes' centre lines at y 100 and 111.
    const test::Picture shot = test::readPicture(dir_.file("sample.png"));
    ASSERT_EQ(shot.width, kWidth);
    const auto waveIn = [&](int top, int bottom) {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 12; x < 105; ++x)
                n += shot.pixels[static_cast<std::size_t>(y * kWidth + x)] == 0xd8a24au;
        return n;
    };
    EXPECT_GT(waveIn(95, 100), 60) << "the left channel";
    EXPECT_EQ(waveIn(101, 111), 0);
    EXPECT_GT(waveIn(112, 117), 60) << "the right channel";
}

// The emblem shows the voice's bands live in the real window: two captures a fifth of a second
// apart, with the demo voice running, differ from the page's picture and from each other in
// the emblem's well, and nowhere else beyond the level lamps.
TEST_F(EditorInAWindow, TheBandDisplayMovesWithARunningVoice) {
    SoundData voice;
    std::string error;
    ASSERT_TRUE(readSoundFile(KF_SOURCE_DIR "/resources/demo/kestrafone-voice.wav", voice, error)) << error;
    feed_.reset();
    feed_ = std::make_unique<AudioFeed>(*plugin_, std::vector<std::vector<float>>{voice.channels[0]},
                                        RenderSettings{});
    feed_->start();
    auto window = openWindow();
    ASSERT_NE(window, nullptr);
    window->idleFor(std::chrono::milliseconds(300));
    ASSERT_TRUE(window->capture(dir_.file("first.png"), error)) << error;
    window->idleFor(std::chrono::milliseconds(200));
    ASSERT_TRUE(window->capture(dir_.file("second.png"), error)) << error;
    const test::Picture first = test::readPicture(dir_.file("first.png")),
                        second = test::readPicture(dir_.file("second.png")),
                        page = test::readPicture(kGoldenPage);
    ASSERT_EQ(first.pixels.size(), page.pixels.size());
    ASSERT_EQ(second.pixels.size(), page.pixels.size());
    auto changed = [&](const test::Picture& a, const test::Picture& b, bool inWell) {
        std::size_t n = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const bool well = x >= 236 && x < 323 && y >= 47 && y < 105, lamps = y < 37;
                const auto i = static_cast<std::size_t>(y * kWidth + x);
                if (well == inWell && !lamps) n += test::pixelsDiffer(a.pixels[i], b.pixels[i], 2);
            }
        return n;
    };
    EXPECT_GT(changed(first, page, true), 200u) << "the emblem shows its picture, not the bands";
    EXPECT_GT(changed(first, second, true), 50u) << "the bars stand still";
    EXPECT_LE(changed(first, page, false), first.pixels.size() / 1000) << "more than the emblem changed";
}

// A click on a key of the real window plays the synthesizer at the key's pitch through the
// vocoder (noise on input A); the release silences it.
TEST_F(EditorInAWindow, AClickedKeySoundsAtItsPitchUntilReleased) {
    feed_.reset();
    feed_ = std::make_unique<AudioFeed>(
        *plugin_, std::vector<std::vector<float>>{test::noise(44100, 0.5f, 3)}, RenderSettings{});
    // The default state plays the synthesizer as the carrier; make it a pure sine.
    ASSERT_TRUE(test::playAPureSine(*plugin_));
    feed_->start();
    auto window = openWindow();
    ASSERT_NE(window, nullptr);
    auto listen = [&](std::size_t frames) {
        feed_->recordOutput(frames);
        for (int i = 0; i < 400; ++i) {
            window->idleFor(std::chrono::milliseconds(10));
            if (auto heard = feed_->takeRecording(); !heard.empty()) return heard;
        }
        return std::vector<float>{};
    };
    auto xdotool = [&](const std::string& args) {
        const auto r = test::runCommand("xdotool " + args);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        window->idleFor(std::chrono::milliseconds(150));
    };
    // The A of the second octave: note 36 + 12 + 9 = 57, 220 Hz.
    xdotool("mousemove --window " + std::to_string(window->windowId()) + " 290 390 mousedown 1");
    const std::vector<float> held = listen(22050);
    xdotool("mouseup 1");
    listen(4410);  // the release's tail
    const std::vector<float> released = listen(4410);
    ASSERT_EQ(held.size(), 22050u);
    ASSERT_EQ(released.size(), 4410u);

    // The pitch from the upward zero crossings, placed between samples.
    std::vector<double> crossings;
    for (std::size_t i = 1; i < held.size(); ++i)
        if (held[i - 1] < 0.0f && held[i] >= 0.0f)
            crossings.push_back(static_cast<double>(i - 1) + held[i - 1] / (held[i - 1] - held[i]));
    ASSERT_GT(crossings.size(), 10u) << "the key does not sound";
    const double hz =
        44100.0 * static_cast<double>(crossings.size() - 1) / (crossings.back() - crossings.front());
    EXPECT_NEAR(hz, 220.0, 2.2);
    EXPECT_GT(test::rms(held, 0, held.size()), 1e-3);
    EXPECT_LT(test::rms(released, 0, released.size()), 1e-5) << "the release does not silence the key";
}

#endif

}  // namespace
}  // namespace kf::host
