// The X11 window on a private virtual display (Xvfb started by the test, with a bounded
// lifetime), skipped when Xvfb is not installed.
#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "gui_test_support.h"
#include "support/environment.h"

namespace kf::gui {
namespace {

using kf::test::ScopedEnv;
using kf::test::VirtualDisplay;
using test::RecordingView;

// An X11 window id as a host hands it over.
void* windowHandle(xcb_window_t id) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(id));
}

// Waits until the server has handled everything sent on `c` so far.
void sync(xcb_connection_t* c) {
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

std::uint32_t pixelOf(xcb_connection_t* c, xcb_window_t w, int x, int y) {
    auto* reply =
        xcb_get_image_reply(c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, x, y, 1, 1, ~0u), nullptr);
    std::uint32_t pixel = 0;
    if (reply && xcb_get_image_data_length(reply) >= 4) std::memcpy(&pixel, xcb_get_image_data(reply), 4);
    std::free(reply);
    return pixel & 0xFFFFFFu;
}

// The window draws and reads on a connection of its own, which the server serves in its
// own order: wait (up to 2 s) for what it sent to take effect.
template <class Predicate>
bool eventually(Predicate ready) {
    for (int i = 0; i < 200; ++i) {
        if (ready()) return true;
        usleep(10000);
    }
    return ready();
}

void sendButton(xcb_connection_t* c, xcb_window_t w, bool press, std::uint8_t button, std::int16_t x,
                std::int16_t y) {
    xcb_button_press_event_t e{};
    e.response_type = press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE;
    e.detail = button;
    e.event = w;
    e.same_screen = 1;
    e.event_x = x;
    e.event_y = y;
    e.time = 5000;
    xcb_send_event(c, 0, w, press ? XCB_EVENT_MASK_BUTTON_PRESS : XCB_EVENT_MASK_BUTTON_RELEASE,
                   reinterpret_cast<const char*>(&e));
    xcb_flush(c);
}

TEST(X11Window, EmbedsDrawsTakesInputAndOutlivesItsParent) {
    VirtualDisplay display;
    if (display.name().empty()) GTEST_SKIP() << "no Xvfb";
    ScopedEnv useIt("DISPLAY", display.name().c_str());

    xcb_connection_t* host = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(host), 0);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(host)).data;
    const xcb_window_t parent = xcb_generate_id(host);
    xcb_create_window(host, XCB_COPY_FROM_PARENT, parent, screen->root, 10, 10, 600, 450, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_map_window(host, parent);
    sync(host);

    // A window id nobody created: open fails cleanly.
    std::string error;
    EXPECT_EQ(openChildWindow(windowHandle(xcb_generate_id(host)), 503, 404, &error), nullptr);
    EXPECT_FALSE(error.empty());

    // Opened and closed again and again (a host toggling the editor): nothing may pile up.
    for (int i = 0; i < 10; ++i) {
        auto again = openChildWindow(windowHandle(parent), 503, 404);
        ASSERT_NE(again, nullptr);
        Frame f(std::move(again), nullptr);
        f.idle();
    }

    auto window = openChildWindow(windowHandle(parent), 503, 404, &error);
    ASSERT_NE(window, nullptr) << error;
    Frame frame(std::move(window), nullptr);
    frame.setBackgroundColor(Color::rgb(0x0000FF));
    auto& view = frame.add(std::make_unique<RecordingView>(Rect{100, 100, 200, 150}));
    view.color = Color::rgb(0xFF0000);
    frame.idle();

    // One child, at 0,0 of the parent, 503 x 404, showing what the frame drew.
    auto* tree = xcb_query_tree_reply(host, xcb_query_tree(host, parent), nullptr);
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(xcb_query_tree_children_length(tree), 1);
    const xcb_window_t child = xcb_query_tree_children(tree)[0];
    std::free(tree);
    auto* geometry = xcb_get_geometry_reply(host, xcb_get_geometry(host, child), nullptr);
    ASSERT_NE(geometry, nullptr);
    EXPECT_EQ(geometry->x, 0);
    EXPECT_EQ(geometry->y, 0);
    EXPECT_EQ(geometry->width, 503);
    EXPECT_EQ(geometry->height, 404);
    EXPECT_EQ(geometry->depth, screen->root_depth);
    std::free(geometry);
    EXPECT_TRUE(eventually([&] { return pixelOf(host, parent, 150, 120) == 0xFF0000u; }));
    EXPECT_EQ(pixelOf(host, parent, 10, 10), 0x0000FFu);

    // Presses and wheel notches arrive as the same records the off-screen window takes.
    sendButton(host, child, true, 3, 120, 110);
    sendButton(host, child, false, 3, 300, 300);
    sendButton(host, child, true, 5, 120, 110);
    sendButton(host, child, false, 5, 120, 110);
    EXPECT_TRUE(eventually([&] {
        frame.idle();
        return view.events.size() >= 3;
    }));
    ASSERT_EQ(view.events.size(), 3u);
    EXPECT_EQ(view.events[0].button, MouseButton::Right);
    EXPECT_EQ(view.events[0].pos, (Point{120, 110}));
    EXPECT_EQ(view.events[1].kind, Event::Kind::MouseUp);
    EXPECT_EQ(view.events[2].kind, Event::Kind::Wheel);
    EXPECT_EQ(view.events[2].wheelY, -1);

    // The host destroys its window first: idling and closing must not crash.
    xcb_destroy_window(host, parent);
    sync(host);
    EXPECT_TRUE(eventually([&] {
        view.setDirty();
        frame.idle();
        return !frame.isAlive();
    }));
    xcb_disconnect(host);
}

TEST(X11Window, NoDisplayMeansNoWindow) {
    ScopedEnv noServer("DISPLAY", ":65000");
    EXPECT_EQ(openChildWindow(windowHandle(1), 503, 404), nullptr);
}

}  // namespace
}  // namespace kf::gui
