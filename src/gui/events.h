// The input records every backend produces. The X11 window translates its protocol events
// into these; the off-screen window takes them by injection; the frame dispatches them the
// same way whichever backend they came from, so one event script drives both.
#pragma once

#include <cstdint>
#include <optional>

#include "gui/geometry.h"

namespace kf::gui {

enum class MouseButton : std::uint8_t { None = 0, Left = 1, Middle = 2, Right = 3 };

constexpr unsigned buttonMask(MouseButton b) {
    return 1u << static_cast<unsigned>(b);
}

// Modifier keys held during an event, as a bit set.
enum Modifier : unsigned {
    kShift = 1u << 0,
    kControl = 1u << 1,
    kAlt = 1u << 2,    // X11 Mod1
    kSuper = 1u << 3,  // X11 Mod4
};

struct Event {
    enum class Kind : std::uint8_t {
        MouseDown,
        MouseUp,
        MouseMove,  // with or without buttons held
        Wheel,
        Enter,
        Leave,
        Expose,  // `area` must be shown again
    };
    Kind kind = Kind::MouseMove;
    Point pos;                               // window pixels
    MouseButton button = MouseButton::None;  // MouseDown / MouseUp
    unsigned modifiers = 0;                  // Modifier bits
    // MouseDown: 1 for a single press, 2 for a double click, and so on. The frame fills it
    // in from the press history (X11 reports no double clicks), so a source leaves it at 0.
    int clickCount = 0;
    // The buttons held, as buttonMask() bits; filled in by the frame for every mouse event
    // (before a press takes effect, after a release).
    unsigned buttons = 0;
    int wheelX = 0;  // Wheel: notches, right positive
    int wheelY = 0;  // Wheel: notches, up positive
    Rect area;       // Expose
    // Milliseconds on any clock that only moves forward (X server time, or a monotonic
    // clock for injected events); only differences are used.
    std::uint32_t time = 0;
};

// Synthesises double clicks: a press counts as the next click of a series when it is the
// same button as the previous press, at most 400 ms later and at most 4 pixels away on
// either axis; otherwise a new series starts at 1.
class ClickCounter {
  public:
    static constexpr std::uint32_t kMaxIntervalMs = 400;
    static constexpr int kMaxDistance = 4;

    int press(MouseButton button, Point pos, std::uint32_t time);
    void reset() { count_ = 0; }

  private:
    MouseButton button_ = MouseButton::None;
    Point pos_;
    std::uint32_t time_ = 0;
    int count_ = 0;
};

// Turns an X11 button press or release into an event record: buttons 1-3 are the left,
// middle and right buttons; 4/5 are one wheel notch up/down and 6/7 one notch left/right,
// reported on the press only (their releases give nothing); other buttons give nothing.
// `state` is the X11 modifier state (ShiftMask, ControlMask, Mod1Mask, Mod4Mask).
std::optional<Event> eventFromX11Button(bool press, unsigned detail, unsigned state, Point pos,
                                        std::uint32_t time);

// The Modifier bits of an X11 modifier state.
unsigned modifiersFromX11State(unsigned state);

}  // namespace kf::gui
