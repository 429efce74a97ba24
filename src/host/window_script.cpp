#include "host/window_script.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "host/editor_window.h"

extern char** environ;

namespace kf::host {
namespace {

using Kind = ScriptStep::Kind;
using Result = WindowScriptOutcome::Result;

// After a pointer step: enough idles for the events to travel from xdotool through the
// X server to the plug-in's connection and be handled there.
constexpr std::chrono::milliseconds kSettle{3 * kEditorIdlePeriod};
// After `open`: time for the editor to map its window and draw it once.
constexpr std::chrono::milliseconds kOpenSettle{10 * kEditorIdlePeriod};

struct Failure {
    Result result;
    std::string message;
};

// Runs xdotool with `args` (several commands may be chained in one call) and waits for it.
std::optional<Failure> xdotool(const std::vector<std::string>& args, const std::string& displayName) {
    std::vector<std::string> words = {"xdotool"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e)
        if (displayName.empty() || std::strncmp(*e, "DISPLAY=", 8) != 0) envText.emplace_back(*e);
    if (!displayName.empty()) envText.push_back("DISPLAY=" + displayName);
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "xdotool", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return Failure{Result::NoDisplay, spawned == ENOENT
                                              ? "xdotool is not installed (Debian package xdotool)"
                                              : std::string("cannot run xdotool: ") + std::strerror(spawned)};
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string command = "xdotool";
        for (const auto& a : args) command += " " + a;
        return Failure{Result::Failed, command + " failed"};
    }
    return std::nullopt;
}

const char* modifierKey(unsigned bit) {
    return bit == kShift ? "shift" : bit == kControl ? "ctrl" : "alt";
}

class Player {
  public:
    Player(Plugin& plugin, AudioFeed& feed, const std::string& displayName)
        : plugin_(plugin), feed_(feed), display_(displayName), editsAtStart_(plugin.host().edits().size()) {
        for (int32_t i = 0; i < plugin.numParams(); ++i) startValues_.push_back(plugin.parameter(i));
    }

    // A script that ends (or fails) in the middle of a gesture must not leave the X
    // server with a button or a modifier key held down.
    void releaseHeld() {
        if (heldButton_ == 0 || !window_) return;
        std::vector<std::string> args = {"mouseup", std::to_string(heldButton_)};
        for (const unsigned bit : {kShift, kControl, kAlt})
            if (heldModifiers_ & bit) args.insert(args.end(), {"keyup", modifierKey(bit)});
        heldButton_ = 0;
        (void)xdotool(args, display_);
    }

    std::optional<Failure> step(const ScriptStep& s, std::vector<std::string>& notes);
    EditorWindow* window() { return window_.get(); }

  private:
    std::optional<Failure> needEditor(const char* what) const {
        if (window_ && window_->editorOpen()) return std::nullopt;
        return Failure{Result::Failed, std::string(what) + " needs an open editor (add an 'open' step)"};
    }
    std::optional<Failure> pointer(std::vector<std::string> args) {
        if (auto f = xdotool(args, display_)) return f;
        window_->idleFor(kSettle);
        if (window_->closeRequested()) return Failure{Result::Failed, "the editor's window was closed"};
        return std::nullopt;
    }
    std::vector<std::string> moveTo(int x, int y) const {
        return {"mousemove", "--window", std::to_string(window_->windowId()), std::to_string(x),
                std::to_string(y)};
    }
    std::optional<Failure> expectParam(const ScriptStep& s);
    std::optional<Failure> expectEdited(const ScriptStep& s) const;
    std::optional<Failure> waitForFrames(int frames);

    Plugin& plugin_;
    AudioFeed& feed_;
    const std::string display_;
    std::unique_ptr<EditorWindow> window_;
    std::vector<float> startValues_;
    std::size_t editsAtStart_;
    int heldButton_ = 0;  // X button number of the press not yet released, 0 for none
    unsigned heldModifiers_ = 0;
};

std::optional<Failure> Player::step(const ScriptStep& s, std::vector<std::string>& notes) {
    switch (s.kind) {
        case Kind::Open: {
            std::string error;
            if (!window_) {
                EditorWindow::OpenFailure why;
                window_ = EditorWindow::open(plugin_, error, display_, &why);
                if (!window_)
                    return Failure{why == EditorWindow::OpenFailure::NoDisplay ? Result::NoDisplay
                                                                               : Result::EditorFailed,
                                   error};
            } else if (!window_->openEditor(error)) {
                return Failure{Result::EditorFailed, error};
            }
            window_->idleFor(kOpenSettle);
            return std::nullopt;
        }
        case Kind::Close:
            if (window_) window_->closeEditor();
            return std::nullopt;
        case Kind::Down: {
            if (auto f = needEditor("down")) return f;
            if (heldButton_ != 0) return Failure{Result::Failed, "down while a button is still held"};
            auto args = moveTo(s.x, s.y);
            for (const unsigned bit : {kShift, kControl, kAlt})
                if (s.modifiers & bit) args.insert(args.end(), {"keydown", modifierKey(bit)});
            heldButton_ = static_cast<int>(s.button);
            heldModifiers_ = s.modifiers;
            args.insert(args.end(), {"mousedown", std::to_string(heldButton_)});
            return pointer(args);
        }
        case Kind::Move:
            if (auto f = needEditor("move")) return f;
            return pointer(moveTo(s.x, s.y));
        case Kind::Up: {
            if (auto f = needEditor("up")) return f;
            if (heldButton_ == 0) return Failure{Result::Failed, "up with no button held"};
            std::vector<std::string> args;
            if (s.hasPosition) args = moveTo(s.x, s.y);
            args.insert(args.end(), {"mouseup", std::to_string(heldButton_)});
            // Modifiers stay down for the whole gesture (a fine drag holds Shift while moving).
            for (const unsigned bit : {kShift, kControl, kAlt})
                if (heldModifiers_ & bit) args.insert(args.end(), {"keyup", modifierKey(bit)});
            heldButton_ = 0;
            heldModifiers_ = 0;
            return pointer(args);
        }
        case Kind::Wheel: {
            if (auto f = needEditor("wheel")) return f;
            auto args = moveTo(s.x, s.y);
            // X buttons 4 and 5 are the wheel's notches up and down.
            args.insert(args.end(), {"click", "--repeat", std::to_string(std::abs(s.count)), "--delay", "20",
                                     s.count > 0 ? "4" : "5"});
            return pointer(args);
        }
        case Kind::Idle:
            for (int i = 0; i < s.count; ++i) {
                if (window_) window_->idleFor(kEditorIdlePeriod);
            }
            return std::nullopt;
        case Kind::Process:
            return waitForFrames(s.count);
        case Kind::ExpectParam:
            return expectParam(s);
        case Kind::ExpectNoOpenEdits: {
            std::map<int32_t, int> open;
            for (const EditRecord& e : plugin_.host().edits()) {
                if (e.kind == EditRecord::Kind::BeginEdit) ++open[e.index];
                if (e.kind == EditRecord::Kind::EndEdit) --open[e.index];
            }
            std::string list;
            for (const auto& [index, count] : open)
                if (count > 0) list += (list.empty() ? "" : ", ") + std::to_string(index);
            if (list.empty()) return std::nullopt;
            return Failure{Result::Failed, "expect no-open-edits: parameter(s) " + list +
                                               " had a beginEdit without its endEdit"};
        }
        case Kind::ExpectEdited:
            return expectEdited(s);
        case Kind::ExpectHeld:
            notes.push_back("line " + std::to_string(s.line) + ": expect held " + std::to_string(s.count) +
                            " not checked: which keys the editor's keyboard holds cannot be seen "
                            "through the plug-in's binary interface (the off-screen runner checks it)");
            return std::nullopt;
        case Kind::Snapshot: {
            if (auto f = needEditor("snapshot")) return f;
            std::string error;
            if (!window_->capture(s.path, error)) return Failure{Result::Failed, error};
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<Failure> Player::expectParam(const ScriptStep& s) {
    if (s.index >= plugin_.numParams())
        return Failure{Result::Failed, "expect param: the plug-in has no parameter " +
                                           std::to_string(s.index) + " (it has " +
                                           std::to_string(plugin_.numParams()) + ")"};
    const auto i = static_cast<std::size_t>(s.index);
    const float expected = s.relative ? startValues_[i] + s.value : s.value;
    const float actual = plugin_.parameter(s.index);
    // A hair of slack for the decimal tolerance itself, which a float cannot hold exactly.
    if (std::fabs(actual - expected) <= s.tolerance + 1e-6f) return std::nullopt;
    char text[200];
    std::snprintf(text, sizeof text, "expect param %d: it reads %.4f, expected %.4f (±%.4f)%s", s.index,
                  actual, expected, s.tolerance, s.relative ? ", relative to the start" : "");
    return Failure{Result::Failed, std::string(text) + " [" + plugin_.parameterName(s.index) + "]"};
}

std::optional<Failure> Player::expectEdited(const ScriptStep& s) const {
    // Walks the calls since the start for the gesture's three steps in their order.
    const std::vector<EditRecord> edits = plugin_.host().edits();
    using E = EditRecord::Kind;
    const E order[] = {E::BeginEdit, E::Automate, E::EndEdit};
    std::size_t seen = 0;
    for (std::size_t i = std::min(editsAtStart_, edits.size()); i < edits.size() && seen < 3; ++i)
        if (edits[i].index == s.index && edits[i].kind == order[seen]) ++seen;
    if (seen == 3) return std::nullopt;
    const char* missing[] = {"beginEdit", "automation after the beginEdit", "endEdit after the automation"};
    return Failure{Result::Failed,
                   "expect edited " + std::to_string(s.index) + ": the host saw no " + missing[seen]};
}

std::optional<Failure> Player::waitForFrames(int frames) {
    const int64_t target = feed_.framesProcessed() + frames;
    // Real time plus a generous margin for a loaded machine or a sanitizer build.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(4.0 * frames / feed_.sampleRate() + 5.0));
    while (feed_.framesProcessed() < target) {
        if (!feed_.running()) return Failure{Result::Failed, "process: " + feed_.error()};
        if (std::chrono::steady_clock::now() > deadline)
            return Failure{Result::Failed, "process: the audio thread did not get through " +
                                               std::to_string(frames) + " frames in time"};
        if (window_)
            window_->idleFor(kEditorIdlePeriod);
        else
            std::this_thread::sleep_for(kEditorIdlePeriod);
    }
    return std::nullopt;
}

}  // namespace

WindowScriptOutcome playScriptInWindow(Plugin& plugin, AudioFeed& feed, const EditorScript& script,
                                       const std::string& displayName) {
    WindowScriptOutcome outcome;
    Player player(plugin, feed, displayName);
    for (const ScriptStep& s : script.steps) {
        if (auto failure = player.step(s, outcome.notes)) {
            outcome.result = failure->result;
            outcome.message = "line " + std::to_string(s.line) + ": " + failure->message;
            break;
        }
        ++outcome.stepsRun;
    }
    player.releaseHeld();
    if (EditorWindow* w = player.window(); w != nullptr && w->xErrorCount() > 0)
        outcome.notes.push_back(
            std::to_string(w->xErrorCount()) +
            " X protocol error(s) while the editor was shown; the latest: " + w->lastXError());
    return outcome;
}

}  // namespace kf::host
