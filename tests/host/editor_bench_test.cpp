// Our editor in a real X11 window under a private Xvfb, embedded the way Linux hosts embed
// it: a child of the host's window, opened, idled and closed from one thread while an
// audio thread processes. The sanitizer build runs these too, so leaks show there.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "host/audio_feed.h"
#include "host/editor_window.h"
#include "test_support.h"
#include "xvfb.h"

namespace kf::host {
namespace {

#ifdef KF_PLUGIN_PATH

constexpr int kWidth = 503, kHeight = 404;

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

std::size_t openDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

class EditorInAWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::Xvfb::installed()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
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

    std::unique_ptr<test::Xvfb> server_;
    std::unique_ptr<Plugin> plugin_;
    std::unique_ptr<AudioFeed> feed_;
};

TEST_F(EditorInAWindow, ChildWindowFillsTheParentFromItsOrigin) {
    auto window = openWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->width(), kWidth);
    EXPECT_EQ(window->height(), kHeight);
    EXPECT_EQ(childGeometries(window->windowId()), std::vector<std::string>{"503x404+0+0"});
    EXPECT_EQ(window->xErrorCount(), 0) << window->lastXError();
}

TEST_F(EditorInAWindow, FiftyOpenCloseCyclesLeaveNothingBehind) {
    auto window = openWindow();
    ASSERT_NE(window, nullptr);
    window->closeEditor();
    window->idle();
    const std::size_t descriptors = openDescriptors();
    for (int cycle = 0; cycle < 50; ++cycle) {
        std::string error;
        ASSERT_TRUE(window->openEditor(error)) << "cycle " << cycle << ": " << error;
        window->idle();
        window->idle();
        window->closeEditor();
    }
    EXPECT_EQ(openDescriptors(), descriptors) << "each open leaves a connection or file open";
    EXPECT_TRUE(childGeometries(window->windowId()).empty()) << "a closed editor left its window behind";
    EXPECT_EQ(window->xErrorCount(), 0) << window->lastXError();
    EXPECT_GT(feed_->framesProcessed(), 0);
    EXPECT_TRUE(feed_->running()) << feed_->error();
}

TEST_F(EditorInAWindow, ParentDestroyedBeforeCloseIsSurvived) {
    {
        auto window = openWindow();
        ASSERT_NE(window, nullptr);
        window->destroyWindow();
        window->idleFor(std::chrono::milliseconds(100));
        window->closeEditor();
    }
    // The instance is still usable: a new window shows the editor again.
    auto again = openWindow();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(childGeometries(again->windowId()).size(), 1u);
}

TEST_F(EditorInAWindow, EditorShotIsAPictureOfThePanel) {
    test::TempDir dir;
    const std::string shot = dir.file("shot.png");
    const auto r = test::runCommand(test::shellQuote(KF_RENDER_PATH) + " --editor-shot " +
                                    test::shellQuote(shot) + " " + test::shellQuote(KF_PLUGIN_PATH));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const test::PictureSummary picture = test::summarisePng(shot);
    EXPECT_EQ(picture.width, kWidth);
    EXPECT_EQ(picture.height, kHeight);
    EXPECT_GT(picture.colours, 16u) << "the capture is blank";
}

#endif

}  // namespace
}  // namespace kf::host
