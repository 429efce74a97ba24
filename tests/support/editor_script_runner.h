// Plays an editor event script against our plug-in's editor opened on an off-screen window:
// events are injected as the toolkit's records (each followed by one idle, as a host's timer
// would give), audio runs between them, and expectations are checked against the instance.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "host/editor_script.h"
#include "plugin/uniclient.h"

namespace kf::test {

struct ScriptRun {
    TMUniClient& instance;
    std::filesystem::path snapshotFolder;  // where relative snapshot names are written
    std::function<int()> openEdits;        // host edits begun and not ended (for no-open-edits)
    std::function<bool(int)> edited;       // the host saw begin, automation and end of a parameter
};

// One message "line N: what failed" per failed step; empty when every step held.
std::vector<std::string> playEditorScript(const host::EditorScript& script, const ScriptRun& run);

}  // namespace kf::test
