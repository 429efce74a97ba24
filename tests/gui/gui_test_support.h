// A frame on the off-screen window with views that record what reaches them, and pictures
// read back from PNG files.
#pragma once

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "gui/frame.h"

namespace kf::gui::test {

struct RecordingView : View {
    explicit RecordingView(const Rect& r, bool takes = true) : View(r), takesPress(takes) {}
    void draw(DrawContext& c, const Rect& dirty) override {
        ++draws;
        c.fillRect(dirty, color);
    }
    bool mouseDown(const Event& e) override { return log(e) && takesPress; }
    bool mouseMoved(const Event& e) override { return log(e); }
    bool mouseUp(const Event& e) override { return log(e); }
    bool wheel(const Event& e) override { return log(e); }
    bool log(const Event& e) {
        events.push_back(e);
        if (outside) outside->push_back(e);
        return true;
    }
    bool takesPress;
    Color color = Color::rgb(0x336699);
    int draws = 0;
    std::vector<Event> events;
    std::vector<Event>* outside = nullptr;  // a copy that outlives the view
};

struct Harness {
    explicit Harness(const BitmapCache* bitmaps = nullptr, int w = 503, int h = 404) {
        auto win = std::make_unique<OffscreenWindow>(w, h);
        window = win.get();
        frame = std::make_unique<Frame>(std::move(win), bitmaps);
    }
    void send(Event::Kind kind, Point p, std::uint32_t time = 1000, MouseButton b = MouseButton::Left) {
        Event e;
        e.kind = kind;
        e.pos = p;
        e.button = b;
        e.time = time;
        window->inject(e);
        frame->idle();
    }
    void click(Point p, std::uint32_t time = 1000, MouseButton b = MouseButton::Left) {
        send(Event::Kind::MouseDown, p, time, b);
        send(Event::Kind::MouseUp, p, time + 50, b);
    }
    OffscreenWindow* window;
    std::unique_ptr<Frame> frame;
};

// The 0xRRGGBB pixels of a PNG file, rows top to bottom; empty when it cannot be read.
inline std::vector<std::uint32_t> readPng(const std::string& path, int* width = nullptr) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    const auto bitmap = Bitmap::decodePng(bytes);
    if (!bitmap) return {};
    if (width) *width = bitmap->width();
    Surface surface(bitmap->width(), bitmap->height());
    DrawContext(surface, nullptr).drawBitmap(*bitmap, {0, 0});
    return surface.pixels();
}

}  // namespace kf::gui::test
