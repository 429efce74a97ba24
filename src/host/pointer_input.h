// Pointer input sent to a window of the desktop as a person makes it, through the window
// system, so that the program owning the window receives real input: xdotool through the X
// server on Linux (pointer_input_posix.cpp), the system's input queue on Windows
// (pointer_input_win32.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/editor_script.h"

namespace kf::host {

struct PointerAction {
    enum class Kind { MoveTo, Press, Release, KeyDown, KeyUp, Wheel };
    Kind kind;
    int x = 0, y = 0;                        // MoveTo: coordinates in the window
    MouseButton button = MouseButton::Left;  // Press, Release
    unsigned modifier = 0;                   // KeyDown, KeyUp: one Modifier bit
    int notches = 0;                         // Wheel: > 0 up, < 0 down
};

struct PointerFailure {
    bool unavailable = false;  // the means of sending input is missing (no xdotool)
    std::string message;
};

// Sends `actions` in order; MoveTo places the pointer in `window` (EditorWindow::windowId()).
// `displayName` is the X display ($DISPLAY when empty); Windows has one desktop and ignores it.
std::optional<PointerFailure> sendPointer(std::uintptr_t window, const std::vector<PointerAction>& actions,
                                          const std::string& displayName);

}  // namespace kf::host
