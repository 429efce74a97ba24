#include <windows.h>

#include <cstdlib>

#include "host/pointer_input.h"
#include "platform/win32/wide_text.h"

namespace kf::host {
namespace {

INPUT mouse(DWORD flags, int wheel = 0) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    in.mi.mouseData = static_cast<DWORD>(wheel);
    return in;
}

INPUT key(unsigned modifier, bool down) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = modifier == kShift ? VK_SHIFT : modifier == kControl ? VK_CONTROL : VK_MENU;
    in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    return in;
}

DWORD buttonFlag(MouseButton b, bool down) {
    switch (b) {
        case MouseButton::Left:
            return down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
        case MouseButton::Middle:
            return down ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_MIDDLEUP;
        case MouseButton::Right:
            break;
    }
    return down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP;
}

}  // namespace

// Through SendInput, as a mouse and keyboard would: Windows sends the messages to whichever
// window is under the pointer (or holds the mouse), the plug-in's child window included.
std::optional<PointerFailure> sendPointer(std::uintptr_t window, const std::vector<PointerAction>& actions,
                                          const std::string&) {
    using Kind = PointerAction::Kind;
    const auto hwnd = reinterpret_cast<HWND>(window);
    if (!IsWindow(hwnd)) return PointerFailure{false, "the window to send input to is gone"};
    auto send = [](INPUT in) -> std::optional<PointerFailure> {
        if (SendInput(1, &in, sizeof in) == 1) return std::nullopt;
        return PointerFailure{false,
                              "Windows refused the input: " + platform::systemErrorText(GetLastError())};
    };
    for (const PointerAction& a : actions) {
        std::optional<PointerFailure> failed;
        switch (a.kind) {
            case Kind::MoveTo: {
                // The pointer is placed, then a move without distance goes through the input
                // queue, so the window hears of the new place in order with the buttons.
                POINT p{a.x, a.y};
                ClientToScreen(hwnd, &p);
                if (!SetCursorPos(p.x, p.y)) return PointerFailure{false, "cannot move the pointer"};
                failed = send(mouse(MOUSEEVENTF_MOVE));
                break;
            }
            case Kind::Press:
            case Kind::Release:
                failed = send(mouse(buttonFlag(a.button, a.kind == Kind::Press)));
                break;
            case Kind::KeyDown:
            case Kind::KeyUp:
                failed = send(key(a.modifier, a.kind == Kind::KeyDown));
                break;
            case Kind::Wheel:
                // One notch is WHEEL_DELTA; positive turns it away from the user (up).
                for (int i = 0; i < std::abs(a.notches) && !failed; ++i) {
                    failed = send(mouse(MOUSEEVENTF_WHEEL, a.notches > 0 ? WHEEL_DELTA : -WHEEL_DELTA));
                    Sleep(20);
                }
                break;
        }
        if (failed) return failed;
    }
    return std::nullopt;
}

}  // namespace kf::host
