// Kestrafone.dll's editor in a host's real Win32 window (under wine), opened, idled and closed
// from one thread while an audio thread processes, played through Windows' input queue. The
// scripts and captures are tested through the render tool (tools/render_tool_test.py).
#include <gtest/gtest.h>
#include <windows.h>
// Needs the types windows.h declares.
#include <psapi.h>

#include <array>
#include <cstdio>

#include "host/audio_feed.h"
#include "host/editor_window.h"
#include "host/pointer_input.h"
#include "platform/file_system.h"
#include "support/plugin_facts.h"
#include "support/signals.h"

namespace kf::host {
namespace {

using namespace std::chrono_literals;

std::size_t workingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize
                                                                                 : 0;
}

// What an editor could leave behind in the process: handles of the kernel, GDI and USER.
std::array<DWORD, 3> handles() {
    DWORD kernel = 0;
    GetProcessHandleCount(GetCurrentProcess(), &kernel);
    return {kernel, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS),
            GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)};
}

// The editor's child windows of a host window, as "WxH+X+Y" in the host window's client area.
std::vector<std::string> children(std::uintptr_t window) {
    const auto parent = reinterpret_cast<HWND>(window);
    std::vector<std::string> found;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
        found.push_back(std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
                        std::to_string(r.left) + "+" + std::to_string(r.top));
    }
    return found;
}

class EditorInAWin32Window : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        plugin_ = Plugin::load(platform::utf8Path(std::filesystem::path(KF_PLUGIN_PATH)), {}, error);
        ASSERT_NE(plugin_, nullptr) << error;
        startFeed({});
    }
    void startFeed(std::vector<std::vector<float>> inputs) {
        feed_.reset();
        feed_ = std::make_unique<AudioFeed>(*plugin_, std::move(inputs), RenderSettings{});
        feed_->start();
    }
    void TearDown() override {
        feed_.reset();
        plugin_.reset();
    }
    std::unique_ptr<EditorWindow> openWindow() {
        std::string error;
        auto window = EditorWindow::open(*plugin_, error);
        EXPECT_NE(window, nullptr) << error;
        if (window) window->idleFor(60ms);
        return window;
    }

    std::unique_ptr<Plugin> plugin_;
    std::unique_ptr<AudioFeed> feed_;
};

TEST_F(EditorInAWin32Window, ChildWindowFillsTheParentOutlivesItAndMovesToAnother) {
    {
        auto window = openWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->width(), 503);
        EXPECT_EQ(window->height(), 404);
        EXPECT_EQ(children(window->windowId()), std::vector<std::string>{"503x404+0+0"});
        // The close button asks the host, which closes the editor first.
        PostMessageW(reinterpret_cast<HWND>(window->windowId()), WM_CLOSE, 0, 0);
        window->idle();
        EXPECT_TRUE(window->closeRequested() && IsWindow(reinterpret_cast<HWND>(window->windowId())));
        // A host that tears its window down before it closes the editor.
        window->destroyWindow();
        window->idleFor(100ms);
        window->closeEditor();
        std::string error;
        EXPECT_FALSE(window->openEditor(error));
    }
    // The instance shows its editor again, in another window.
    auto again = openWindow();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(children(again->windowId()), std::vector<std::string>{"503x404+0+0"});
}

// A host that opens and closes the editor again and again: no window, handle or memory may
// pile up (bitmaps or a drawing library kept per open would show in the working set).
TEST_F(EditorInAWin32Window, OpenCloseCyclesLeaveNothingBehind) {
    auto window = openWindow();
    ASSERT_NE(window, nullptr);
    window->closeEditor();
    window->idle();
    const auto before = handles();
    // Wine counts none of them (all read 0): there the windows and the memory show what is left.
    std::size_t at10 = 0;
    for (int cycle = 1; cycle <= 200; ++cycle) {
        std::string error;
        ASSERT_TRUE(window->openEditor(error)) << "cycle " << cycle << ": " << error;
        window->idle();
        window->idle();
        window->closeEditor();
        if (cycle == 10) at10 = workingSet();
    }
    EXPECT_TRUE(children(window->windowId()).empty()) << "a closed editor left its window behind";
    EXPECT_EQ(handles(), before) << "kernel, GDI and USER handles";
    const std::size_t at200 = workingSet();
    std::printf("working set after cycle 10: %zu kB, after cycle 200: %zu kB\n", at10 / 1024, at200 / 1024);
    EXPECT_LE(at200, at10 + (1u << 20)) << "from " << at10 / 1024 << " kB after cycle 10";
    EXPECT_TRUE(feed_->running()) << feed_->error();
}

// A right-click latches a key of the editor's keyboard: the synthesizer plays it through the
// vocoder (noise on input A) after the button is up, until a second right-click releases it.
TEST_F(EditorInAWin32Window, ALatchedKeyPlaysUntilASecondClickReleasesIt) {
    feed_.reset();
    ASSERT_TRUE(test::playAPureSine(*plugin_));
    startFeed({test::noise(44100, 0.5f, 3)});
    auto window = openWindow();
    ASSERT_NE(window, nullptr);
    auto listen = [&](std::size_t frames) {
        feed_->recordOutput(frames);
        std::vector<float> heard;
        for (int i = 0; i < 400 && heard.empty(); ++i, window->idleFor(10ms)) heard = feed_->takeRecording();
        return heard;
    };
    using Kind = PointerAction::Kind;
    auto rightClick = [&] {
        const auto failed = sendPointer(window->windowId(),
                                        {{.kind = Kind::MoveTo, .x = 290, .y = 390},
                                         {.kind = Kind::Press, .button = MouseButton::Right},
                                         {.kind = Kind::Release, .button = MouseButton::Right}},
                                        {});
        ASSERT_FALSE(failed) << failed->message;
        window->idleFor(150ms);
    };
    rightClick();
    const std::vector<float> latched = listen(22050);
    rightClick();
    listen(4410);                                      // the release's tail
    const std::vector<float> released = listen(4410);  // empty recordings read as NaN and fail
    EXPECT_GT(test::rms(latched, 0, latched.size()), 1e-3) << "the latched key does not sound";
    EXPECT_LT(test::rms(released, 0, released.size()), 1e-5) << "the second click does not release it";
}

}  // namespace
}  // namespace kf::host
