// Plays an editor event script (editor_script.h) in a real window (EditorWindow): pointer
// steps go through the window system (pointer_input.h), so the plug-in receives them exactly
// as it would from a person, while an AudioFeed keeps its audio thread busy.
#pragma once

#include <string>
#include <vector>

#include "host/audio_feed.h"
#include "host/editor_script.h"
#include "host/vst_host.h"

namespace kf::host {

struct WindowScriptOutcome {
    enum class Result {
        Passed,
        Failed,        // an expectation was not met, or a step made no sense (up with no button held)
        NoDisplay,     // no X display, or no xdotool (Linux)
        EditorFailed,  // the plug-in has no editor or would not open it
    };
    Result result = Result::Passed;
    std::string message;  // why it did not pass: "line N: ..."
    // Steps a host cannot check, and other remarks (X errors seen), one line each.
    std::vector<std::string> notes;
    int stepsRun = 0;
};

// Runs every step in order and stops at the first that fails. `open` creates the window
// (on `displayName`, or $DISPLAY) and opens the editor in it; the editor is closed and the
// window destroyed when the script ends. `expect param` with a relative value compares
// against the parameter's value when the script started. `expect held` cannot be seen
// through the plug-in's binary interface: it is noted, not checked.
WindowScriptOutcome playScriptInWindow(Plugin& plugin, AudioFeed& feed, const EditorScript& script,
                                       const std::string& displayName = {});

}  // namespace kf::host
