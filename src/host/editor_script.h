// The event-script format that drives a plug-in's editor: one step per line, the same
// script for the off-screen editor (events injected directly) and for a real X11 window
// (events sent with xdotool), so a case written once runs both ways.
//
//   # a comment runs to the end of the line; blank lines are skipped
//   open                           open the editor
//   close                          close it
//   down X Y [left|middle|right] [shift] [ctrl] [alt]   press a button (default left)
//   move X Y                       move the pointer (with whatever buttons are held)
//   up [X Y]                       release the held button (where the pointer is, or at X Y)
//   wheel X Y N                    N notches of the wheel at X Y: N > 0 up, N < 0 down
//   idle [N]                       N editor idle calls (default 1)
//   process N                      run N frames of audio through the plug-in
//   expect param I V [TOL]         host parameter I reads V within TOL (default 0.0005);
//                                  V written with a sign (+0.5, -0.25) is relative to the
//                                  value the parameter had when the script started
//   expect no-open-edits           every beginEdit the plug-in sent has had its endEdit
//   expect edited I                since the script started the host saw beginEdit,
//                                  automation and endEdit of host parameter I, in that order
//   expect held NOTE               the keyboard holds MIDI note NOTE (0..127)
//   snapshot FILE.png              capture the editor's window
//
// Coordinates are window pixels. TOL may be written ±0.005 or 0.005.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kf::host {

enum class MouseButton { Left = 1, Middle = 2, Right = 3 };

// Modifier keys held during a press, as a bit set.
enum Modifier : unsigned { kShift = 1u << 0, kControl = 1u << 1, kAlt = 1u << 2 };

struct ScriptStep {
    enum class Kind {
        Open,
        Close,
        Down,
        Move,
        Up,
        Wheel,
        Idle,
        Process,
        ExpectParam,
        ExpectNoOpenEdits,
        ExpectEdited,
        ExpectHeld,
        Snapshot,
    };
    Kind kind;
    int line = 0;  // 1-based line of the script, for messages
    int x = 0, y = 0;
    bool hasPosition = false;  // up: a position was given
    MouseButton button = MouseButton::Left;
    unsigned modifiers = 0;
    int count = 0;  // wheel notches, idle calls, frames, or the note of ExpectHeld
    int index = 0;  // ExpectParam, ExpectEdited: the parameter index
    float value = 0.0f;
    bool relative = false;  // ExpectParam: value is a change from the script's start
    float tolerance = 0.0005f;
    std::string path;  // Snapshot
};

struct EditorScript {
    std::vector<ScriptStep> steps;
};

// Parses a whole script. On a bad line returns nothing and sets `error` to
// "line N: what is wrong".
std::optional<EditorScript> parseEditorScript(std::string_view text, std::string& error);

}  // namespace kf::host
