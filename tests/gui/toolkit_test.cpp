#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "gui_test_support.h"

namespace kf::gui {
namespace {

using test::Harness;
using test::RecordingView;
using Kind = Event::Kind;

TEST(X11Translation, ButtonsWheelAndModifiers) {
    struct Case {
        bool press;
        unsigned detail;
        std::optional<Kind> kind;
        MouseButton button;
        int wheelX, wheelY;
    };
    const Case cases[] = {
        {true, 1, Kind::MouseDown, MouseButton::Left, 0, 0},
        {false, 3, Kind::MouseUp, MouseButton::Right, 0, 0},
        {true, 2, Kind::MouseDown, MouseButton::Middle, 0, 0},
        {true, 4, Kind::Wheel, MouseButton::None, 0, 1},
        {true, 5, Kind::Wheel, MouseButton::None, 0, -1},
        {true, 6, Kind::Wheel, MouseButton::None, -1, 0},
        {true, 7, Kind::Wheel, MouseButton::None, 1, 0},
        {false, 4, std::nullopt, MouseButton::None, 0, 0},  // wheel releases carry nothing
        {false, 5, std::nullopt, MouseButton::None, 0, 0},
        {true, 8, std::nullopt, MouseButton::None, 0, 0},
    };
    for (const Case& c : cases) {
        const auto e = eventFromX11Button(c.press, c.detail, 0, {7, 9}, 42);
        ASSERT_EQ(e.has_value(), c.kind.has_value()) << c.detail << " press " << c.press;
        if (!e) continue;
        EXPECT_EQ(e->kind, *c.kind) << c.detail;
        EXPECT_EQ(e->button, c.button) << c.detail;
        EXPECT_EQ(e->wheelX, c.wheelX) << c.detail;
        EXPECT_EQ(e->wheelY, c.wheelY) << c.detail;
        EXPECT_EQ(e->pos, (Point{7, 9}));
    }
    // Shift, Lock (ignored), Control, Mod1, Mod4 and Button1 (ignored).
    EXPECT_EQ(modifiersFromX11State(0x1 | 0x2 | 0x4 | 0x8 | 0x40 | 0x100), kShift | kControl | kAlt | kSuper);
}

TEST(ClickCounterTest, DoubleClickNeedsSameButtonWithin400msAnd4px) {
    struct Case {
        MouseButton button;
        Point pos;
        std::uint32_t time;
        int expected;
    };
    // Each case presses after a left press at (100,100), t = 1000.
    const Case cases[] = {
        {MouseButton::Left, {100, 100}, 1400, 2}, {MouseButton::Left, {104, 96}, 1100, 2},
        {MouseButton::Left, {100, 100}, 1401, 1}, {MouseButton::Left, {105, 100}, 1100, 1},
        {MouseButton::Left, {100, 95}, 1100, 1},  {MouseButton::Right, {100, 100}, 1100, 1},
    };
    for (const Case& c : cases) {
        ClickCounter counter;
        ASSERT_EQ(counter.press(MouseButton::Left, {100, 100}, 1000), 1);
        EXPECT_EQ(counter.press(c.button, c.pos, c.time), c.expected)
            << c.pos.x << "," << c.pos.y << " @" << c.time;
    }
    ClickCounter wrap;  // X server time wraps after 49 days
    wrap.press(MouseButton::Left, {0, 0}, 0xFFFFFF00u);
    EXPECT_EQ(wrap.press(MouseButton::Left, {0, 0}, 0x40u), 2);
}

TEST(FrameDispatch, PressingViewKeepsMovesAndReleaseOutsideItAndWindow) {
    Harness h;
    auto& below = h.frame->add(std::make_unique<RecordingView>(Rect{0, 0, 503, 404}));
    auto& knob = h.frame->add(std::make_unique<RecordingView>(Rect{100, 100, 140, 140}));
    h.send(Kind::MouseDown, {120, 120});
    EXPECT_EQ(h.frame->capturingView(), &knob);
    h.send(Kind::MouseMove, {300, 10});
    h.send(Kind::MouseMove, {-50, 600});  // outside the window: X11's implicit grab reports it
    h.send(Kind::MouseUp, {-50, 600});
    ASSERT_EQ(knob.events.size(), 4u);
    EXPECT_EQ(knob.events[0].clickCount, 1);
    EXPECT_EQ(knob.events[2].buttons, buttonMask(MouseButton::Left));  // a drag
    EXPECT_EQ(knob.events[3].buttons, 0u);
    EXPECT_EQ(knob.events[3].kind, Kind::MouseUp);
    EXPECT_EQ(knob.events[3].pos, (Point{-50, 600}));
    EXPECT_TRUE(below.events.empty());
    EXPECT_EQ(h.frame->capturingView(), nullptr);
    // Without a press, moves go to the topmost view under the pointer.
    h.send(Kind::MouseMove, {300, 10});
    EXPECT_EQ(below.events.size(), 1u);
}

TEST(FrameDispatch, HiddenAndDecliningViewsPassThePressOn) {
    Harness h;
    auto& bottom = h.frame->add(std::make_unique<RecordingView>(Rect{0, 0, 200, 200}));
    auto& hidden = h.frame->add(std::make_unique<RecordingView>(Rect{0, 0, 200, 200}));
    auto& declining = h.frame->add(std::make_unique<RecordingView>(Rect{0, 0, 200, 200}, false));
    hidden.setVisibility([] { return false; });
    h.send(Kind::MouseDown, {10, 10});
    EXPECT_EQ(h.frame->capturingView(), &bottom);
    EXPECT_TRUE(hidden.events.empty());
    EXPECT_EQ(declining.events.size(), 1u);
    h.send(Kind::MouseUp, {10, 10}, 1050);
    h.click({12, 11}, 1300);  // 300 ms later, 2 px away
    ASSERT_EQ(bottom.events.size(), 4u);
    EXPECT_EQ(bottom.events[2].clickCount, 2);
}

// A value the wheel turns, as a knob would: one notch = 0.1.
struct WheelControl : Control {
    using Control::Control;
    void draw(DrawContext&, const Rect&) override {}
    bool wheel(const Event& e) override {
        setValue(value() + 0.1f * e.wheelY);
        return true;
    }
};

TEST(FrameDispatch, WheelButton4RaisesAnd5Lowers) {
    Harness h;
    auto& knob = h.frame->add(std::make_unique<WheelControl>(Rect{10, 10, 50, 50}, 1, nullptr));
    knob.setValueSilently(0.5f);
    for (unsigned button : {4u, 4u, 5u}) {
        for (bool press : {true, false}) {
            if (auto e = eventFromX11Button(press, button, 0, {20, 20}, 5)) h.window->inject(*e);
        }
    }
    h.frame->idle();
    EXPECT_NEAR(knob.value(), 0.6f, 1e-6f);
}

TEST(FrameDispatch, ClosingWithAPressHeldReleasesIt) {
    Harness h;
    std::vector<Event> seen;
    h.frame->add(std::make_unique<RecordingView>(Rect{0, 0, 100, 100})).outside = &seen;
    h.send(Kind::MouseDown, {10, 10}, 1000, MouseButton::Right);
    h.send(Kind::MouseMove, {30, 40});
    h.frame.reset();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].kind, Kind::MouseUp);
    EXPECT_EQ(seen[2].button, MouseButton::Right);
    EXPECT_EQ(seen[2].pos, (Point{30, 40}));
}

struct Listener : ControlListener {
    void valueChanged(Control& c) override { log.push_back("value " + std::to_string(c.value())); }
    void beginEdit(Control&) override { log.push_back("begin"); }
    void endEdit(Control&) override { log.push_back("end"); }
    std::vector<std::string> log;
};

TEST(ControlTest, ClampsAndTellsTheListenerOnlyOfUserChanges) {
    Listener listener;
    WheelControl c({0, 0, 10, 10}, 7, &listener);
    c.beginEdit();
    c.beginEdit();
    EXPECT_TRUE(c.setValue(2.0f));
    EXPECT_FALSE(c.setValue(1.0f));  // unchanged after clamping
    c.setValueSilently(0.25f);
    EXPECT_TRUE(c.setValue(std::numeric_limits<float>::quiet_NaN()));
    c.endEdit();
    c.endEdit();
    EXPECT_EQ(listener.log, (std::vector<std::string>{"begin", "value 1.000000", "value 0.000000", "end"}));
}

// An opaque strip of `frames` frames, 6 x 4 each: frame k is filled with colour k + 1 and
// has a marker pixel at (k, k) so a frame drawn one row off is caught.
std::vector<unsigned char> stripPng(int frames) {
    Surface strip(6, 4 * frames);
    DrawContext c(strip, nullptr);
    for (int k = 0; k < frames; ++k) {
        c.fillRect(Rect::fromSize(0, 4 * k, 6, 4), Color::rgb(0x102030u * (k + 1)));
        c.fillRect(Rect::fromSize(k, 4 * k + k % 4, 1, 1), Color::rgb(0xFFFFFF));
    }
    return strip.encodePng();
}

TEST(Bitmaps, DecodedOncePerUseAndReleasedAtZero) {
    const auto png = stripPng(3);
    int calls = 0;
    BitmapCache cache(
        [&](int id) {
            ++calls;
            return id == 11 ? std::span<const unsigned char>(png) : std::span<const unsigned char>();
        },
        10, 12);
    EXPECT_EQ(cache.get(11), nullptr);
    cache.acquire();
    cache.acquire();
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(cache.decodeCount(), 1);
    ASSERT_NE(cache.get(11), nullptr);
    EXPECT_EQ(cache.get(11)->height(), 12);
    EXPECT_EQ(cache.get(10), nullptr);  // no bytes
    EXPECT_EQ(cache.get(13), nullptr);  // outside the range
    cache.release();
    EXPECT_NE(cache.get(11), nullptr);
    cache.release();
    cache.release();  // one too many: ignored
    EXPECT_EQ(cache.useCount(), 0);
    EXPECT_EQ(cache.get(11), nullptr);
    cache.acquire();
    EXPECT_EQ(cache.decodeCount(), 2);
    cache.release();

    // Windows on two threads open and close at will: whoever holds a use sees the bitmap.
    auto openClose = [&] {
        for (int i = 0; i < 200; ++i) {
            cache.acquire();
            if (!cache.get(11)) ADD_FAILURE() << "bitmap missing while in use";
            cache.release();
        }
    };
    std::thread other(openClose);
    openClose();
    other.join();
    EXPECT_EQ(cache.useCount(), 0);
    EXPECT_EQ(cache.get(11), nullptr);
}

TEST(Bitmaps, StripFrameBlitIsPixelExactAndMissingIdsDrawNothing) {
    const auto png = stripPng(3);
    BitmapCache cache(
        [&](int id) {
            return id == 1 ? std::span<const unsigned char>(png) : std::span<const unsigned char>();
        },
        1, 2);
    cache.acquire();
    Surface strip(6, 12);
    {
        DrawContext c(strip, &cache);
        c.drawBitmap(1, {0, 0});
    }
    for (int frame : {0, 1, 2, 7}) {
        Surface target(20, 20);
        {
            DrawContext c(target, &cache);
            c.fillRect({0, 0, 20, 20}, Color::rgb(0x00FF00));
            // A rect one pixel narrower and taller than a frame: clipped on the right, and
            // the next frame must not show below.
            c.drawBitmapFrame(1, frame, 4, Rect::fromSize(5, 7, 5, 6));
            c.drawBitmapFrame(2, 0, 4, Rect::fromSize(0, 0, 20, 20));  // no bytes: nothing
        }
        const int k = std::min(frame, 2);  // past the end shows the last frame
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 20; ++x) {
                const bool inside = x >= 5 && x < 10 && y >= 7 && y < 11;
                const std::uint32_t want = inside ? strip.pixel(x - 5, 4 * k + y - 7) : 0x00FF00u;
                ASSERT_EQ(target.pixel(x, y), want) << "frame " << frame << " at " << x << "," << y;
            }
        }
    }
    cache.release();
}

TEST(FrameDrawing, RedrawsOnlyWhatIsDirty) {
    Harness h;
    auto& a = h.frame->add(std::make_unique<RecordingView>(Rect{0, 0, 50, 50}));
    auto& b = h.frame->add(std::make_unique<RecordingView>(Rect{100, 0, 150, 50}));
    auto& overB = h.frame->add(std::make_unique<RecordingView>(Rect{140, 40, 160, 60}));
    overB.color = Color::rgb(0xAA0000);
    h.frame->idle();
    EXPECT_EQ(a.draws + b.draws + overB.draws, 3);
    h.frame->idle();  // nothing changed
    EXPECT_EQ(a.draws + b.draws + overB.draws, 3);
    b.setDirty();
    h.frame->idle();
    EXPECT_EQ(a.draws, 1);
    EXPECT_EQ(b.draws, 2);
    EXPECT_EQ(overB.draws, 2);  // overlaps b, so it is drawn again on top
    EXPECT_EQ(h.window->surface().pixel(145, 45), 0xAA0000u);
    EXPECT_TRUE(h.frame->dirtyRegion().empty());
    // Hiding a view shows what is under it once its place is redrawn.
    overB.setVisibility([] { return false; });
    h.frame->invalidate(overB.rect());
    h.frame->idle();
    EXPECT_EQ(h.window->surface().pixel(145, 45), 0x336699u);
    EXPECT_EQ(h.window->surface().pixel(155, 55), 0u);
}

TEST(Text, EllipsisKeepsLongTextInsideItsRect) {
    Surface s(200, 20);
    DrawContext c(s, nullptr);
    const float full = c.textWidth("A rather long preset name");
    EXPECT_GT(full, 100.0f);
    EXPECT_EQ(c.ellipsize("short", 200.0f), "short");
    const std::string cut = c.ellipsize("A rather long preset name", 60.0f);
    EXPECT_LE(c.textWidth(cut), 60.0f);
    EXPECT_EQ(cut.substr(cut.size() - 3), "\xE2\x80\xA6");
    EXPECT_EQ(c.ellipsize("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 20.0f).size() % 2,
              1u);  // whole é's + …
    c.drawText("A rather long preset name", {10, 2, 70, 18}, Align::Right, Color::rgb(0xFFFFFF));
    int lit = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 200; ++x) {
            if (s.pixel(x, y) == 0) continue;
            ++lit;
            ASSERT_TRUE(x >= 10 && x < 70 && y >= 2 && y < 18) << x << "," << y;
        }
    }
    EXPECT_GT(lit, 30);
}

}  // namespace
}  // namespace kf::gui
