#include "host/render_tool_editor.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "host/audio_feed.h"
#include "host/editor_window.h"
#include "host/stop_signals.h"
#include "host/window_script.h"

namespace kf::host {
namespace {

// --editor-shot lets the editor idle this long before the capture, for plug-ins that
// draw over several idles.
constexpr std::chrono::milliseconds kShotDelay{300};

std::optional<Failure> playEditorScript(Plugin& plugin, const RenderOptions& o, AudioFeed& feed,
                                        const EditorScript& script) {
    using Result = WindowScriptOutcome::Result;
    const std::string& file = o.editorScript;
    const auto outcome = playScriptInWindow(plugin, feed, script);
    for (const std::string& note : outcome.notes)
        std::fprintf(stderr, "kestrafone-render: note: %s: %s\n", file.c_str(), note.c_str());
    const int code = outcome.result == Result::NoDisplay      ? kExitNoDisplay
                     : outcome.result == Result::EditorFailed ? kExitPlugin
                                                              : kExitScript;
    if (outcome.result != Result::Passed) return Failure{code, file + ": " + outcome.message};
    if (!o.quiet) std::printf("Played %s: %d steps passed\n", file.c_str(), outcome.stepsRun);
    return std::nullopt;
}

std::optional<Failure> showEditor(Plugin& plugin, const RenderOptions& o) {
    std::string error;
    EditorWindow::OpenFailure why;
    auto window = EditorWindow::open(plugin, error, {}, &why);
    if (!window)
        return Failure{why == EditorWindow::OpenFailure::NoDisplay ? kExitNoDisplay : kExitPlugin, error};
    if (!o.editorShot.empty()) {
        window->idleFor(kShotDelay);
        if (!window->capture(o.editorShot, error)) return Failure{kExitFile, error};
        if (!o.quiet)
            std::printf("Captured the editor (%d x %d) to %s\n", window->width(), window->height(),
                        o.editorShot.c_str());
        return std::nullopt;
    }
    if (!o.quiet)
        std::fprintf(stderr,
                     "Showing the editor of %s (%d x %d); close its window or press Ctrl-C to quit.\n",
                     o.plugin.c_str(), window->width(), window->height());
    while (stopSignal() == 0 && !window->closeRequested()) {
        window->idle();
        std::this_thread::sleep_for(kEditorIdlePeriod);
    }
    return std::nullopt;
}

}  // namespace

// The audio thread feeds the plug-in while the editor is shown, scripted or captured on
// this thread.
std::optional<Failure> runEditorMode(Plugin& plugin, const RenderOptions& o,
                                     std::vector<std::vector<float>> inputs, const RenderSettings& settings,
                                     const EditorScript& script) {
    AudioFeed feed(plugin, std::move(inputs), settings);
    feed.start();
    return o.editorScript.empty() ? showEditor(plugin, o) : playEditorScript(plugin, o, feed, script);
}

}  // namespace kf::host
