#include "gui/events.h"

#include <cstdlib>

namespace kf::gui {

int ClickCounter::press(MouseButton button, Point pos, std::uint32_t time) {
    // Unsigned difference: correct across the 32-bit millisecond wrap of X server time.
    const bool continues = count_ > 0 && button == button_ && time - time_ <= kMaxIntervalMs &&
                           std::abs(pos.x - pos_.x) <= kMaxDistance &&
                           std::abs(pos.y - pos_.y) <= kMaxDistance;
    count_ = continues ? count_ + 1 : 1;
    button_ = button;
    pos_ = pos;
    time_ = time;
    return count_;
}

unsigned modifiersFromX11State(unsigned state) {
    // X11 masks: Shift 1 << 0, Control 1 << 2, Mod1 1 << 3, Mod4 1 << 6.
    unsigned m = 0;
    if (state & (1u << 0)) m |= kShift;
    if (state & (1u << 2)) m |= kControl;
    if (state & (1u << 3)) m |= kAlt;
    if (state & (1u << 6)) m |= kSuper;
    return m;
}

std::optional<Event> eventFromX11Button(bool press, unsigned detail, unsigned state, Point pos,
                                        std::uint32_t time) {
    Event e;
    e.pos = pos;
    e.modifiers = modifiersFromX11State(state);
    e.time = time;
    switch (detail) {
        case 1:
        case 2:
        case 3:
            e.kind = press ? Event::Kind::MouseDown : Event::Kind::MouseUp;
            e.button = static_cast<MouseButton>(detail);
            return e;
        case 4:
        case 5:
        case 6:
        case 7:
            // The server reports a wheel notch as a press and an immediate release of a
            // pseudo-button; the press alone is the notch.
            if (!press) return std::nullopt;
            e.kind = Event::Kind::Wheel;
            if (detail == 4) e.wheelY = 1;
            if (detail == 5) e.wheelY = -1;
            if (detail == 6) e.wheelX = -1;
            if (detail == 7) e.wheelX = 1;
            return e;
        default:
            return std::nullopt;
    }
}

}  // namespace kf::gui
