#include "host/window_script.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "host/editor_window.h"
#include "host/pointer_input.h"

namespace kf::host {
namespace {

using Kind = ScriptStep::Kind;
using Result = WindowScriptOutcome::Result;
using Act = PointerAction::Kind;

// After a pointer step: enough idles for the input to travel through the window system
// (from xdotool through the X server, or Windows' input queue) to the plug-in and be handled.
constexpr std::chrono::milliseconds kSettle{3 * kEditorIdlePeriod};
// After `open`: time for the editor to map its window and draw it once.
constexpr std::chrono::milliseconds kOpenSettle{10 * kEditorIdlePeriod};

struct Failure {
    Result result;
    std::string message;
};

class Player {
  public:
    Player(Plugin& plugin, AudioFeed& feed, const std::string& displayName)
        : plugin_(plugin), feed_(feed), display_(displayName), editsAtStart_(plugin.host().edits().size()) {
        for (int32_t i = 0; i < plugin.numParams(); ++i) startValues_.push_back(plugin.parameter(i));
    }

    // A script that ends (or fails) in the middle of a gesture must not leave the window
    // system with a button or a modifier key held down.
    void releaseHeld() {
        if (!heldButton_ || !window_) return;
        std::vector<PointerAction> actions = {{.kind = Act::Release, .button = *heldButton_}};
        addModifiers(actions, Act::KeyUp, heldModifiers_);
        heldButton_.reset();
        (void)sendPointer(window_->windowId(), actions, display_);
    }

    std::optional<Failure> step(const ScriptStep& s, std::vector<std::string>& notes);
    EditorWindow* window() { return window_.get(); }

  private:
    std::optional<Failure> needEditor(const char* what) const {
        if (window_ && window_->editorOpen()) return std::nullopt;
        return Failure{Result::Failed, std::string(what) + " needs an open editor (add an 'open' step)"};
    }
    std::optional<Failure> pointer(const std::vector<PointerAction>& actions) {
        if (auto f = sendPointer(window_->windowId(), actions, display_))
            return Failure{f->unavailable ? Result::NoDisplay : Result::Failed, f->message};
        window_->idleFor(kSettle);
        if (window_->closeRequested()) return Failure{Result::Failed, "the editor's window was closed"};
        return std::nullopt;
    }
    static PointerAction moveTo(int x, int y) { return {.kind = Act::MoveTo, .x = x, .y = y}; }
    static void addModifiers(std::vector<PointerAction>& actions, Act kind, unsigned modifiers) {
        for (const unsigned bit : {kShift, kControl, kAlt})
            if (modifiers & bit) actions.push_back({.kind = kind, .modifier = bit});
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
    std::optional<MouseButton> heldButton_;  // the press not yet released
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
            if (heldButton_) return Failure{Result::Failed, "down while a button is still held"};
            std::vector<PointerAction> actions = {moveTo(s.x, s.y)};
            addModifiers(actions, Act::KeyDown, s.modifiers);
            heldButton_ = s.button;
            heldModifiers_ = s.modifiers;
            actions.push_back({.kind = Act::Press, .button = s.button});
            return pointer(actions);
        }
        case Kind::Move:
            if (auto f = needEditor("move")) return f;
            return pointer({moveTo(s.x, s.y)});
        case Kind::Up: {
            if (auto f = needEditor("up")) return f;
            if (!heldButton_) return Failure{Result::Failed, "up with no button held"};
            std::vector<PointerAction> actions;
            if (s.hasPosition) actions.push_back(moveTo(s.x, s.y));
            actions.push_back({.kind = Act::Release, .button = *heldButton_});
            // Modifiers stay down for the whole gesture (a fine drag holds Shift while moving).
            addModifiers(actions, Act::KeyUp, heldModifiers_);
            heldButton_.reset();
            heldModifiers_ = 0;
            return pointer(actions);
        }
        case Kind::Wheel: {
            if (auto f = needEditor("wheel")) return f;
            return pointer({moveTo(s.x, s.y), {.kind = Act::Wheel, .notches = s.count}});
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
    if (EditorWindow* w = player.window(); w != nullptr && w->protocolErrors() > 0)
        outcome.notes.push_back(
            std::to_string(w->protocolErrors()) +
            " X protocol error(s) while the editor was shown; the latest: " + w->lastProtocolError());
    return outcome;
}

}  // namespace kf::host
