#include "support/editor_script_runner.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "editor/layout.h"
#include "editor/uniclient_editor.h"
#include "gui/platform_window.h"

namespace kf::test {
namespace {

using host::ScriptStep;

// The script's buttons and modifier bits are the toolkit's own numbers.
static_assert(int(host::MouseButton::Left) == int(gui::MouseButton::Left) &&
              int(host::MouseButton::Middle) == int(gui::MouseButton::Middle) &&
              int(host::MouseButton::Right) == int(gui::MouseButton::Right));
static_assert(unsigned(host::kShift) == gui::kShift && unsigned(host::kControl) == gui::kControl &&
              unsigned(host::kAlt) == gui::kAlt);

class Player {
  public:
    explicit Player(const ScriptRun& run) : run_(run), editor_(&run.instance.editor()) {
        for (int i = 0; i < kNumHostParameters; ++i)
            start_[static_cast<std::size_t>(i)] = run.instance.getParameter(i);
    }

    void play(const ScriptStep& s) {
        switch (s.kind) {
            case ScriptStep::Kind::Open:
                if (!editor_) return fail(s, "the instance has no editor");
                if (!editor_->isOpen() &&
                    !editor_->openOn(std::make_unique<gui::OffscreenWindow>(editor::kWidth, editor::kHeight)))
                    return fail(s, "the editor did not open");
                window_ = dynamic_cast<gui::OffscreenWindow*>(&editor_->frame()->window());
                if (!window_) return fail(s, "the editor is open on a window of a display");
                return editor_->idle();
            case ScriptStep::Kind::Close:
                window_ = nullptr;
                return editor_ ? editor_->close() : void();
            case ScriptStep::Kind::Down:
                held_ = static_cast<gui::MouseButton>(s.button);
                modifiers_ = s.modifiers;
                return send(s, gui::Event::Kind::MouseDown, {s.x, s.y}, held_);
            case ScriptStep::Kind::Move:
                return send(s, gui::Event::Kind::MouseMove, {s.x, s.y}, gui::MouseButton::None);
            case ScriptStep::Kind::Up: {
                const gui::MouseButton released = held_;
                held_ = gui::MouseButton::None;
                return send(s, gui::Event::Kind::MouseUp, s.hasPosition ? gui::Point{s.x, s.y} : pointer_,
                            released);
            }
            case ScriptStep::Kind::Wheel:
                return send(s, gui::Event::Kind::Wheel, {s.x, s.y}, gui::MouseButton::None, s.count);
            case ScriptStep::Kind::Idle:
                for (int i = 0; i < std::max(s.count, 1); ++i)
                    if (editor_) editor_->idle();
                return;
            case ScriptStep::Kind::Process:
                return process(s.count);
            case ScriptStep::Kind::ExpectParam:
                return expectParam(s);
            case ScriptStep::Kind::ExpectNoOpenEdits:
                if (run_.openEdits && run_.openEdits() != 0)
                    fail(s, std::to_string(run_.openEdits()) + " host edits are still open");
                return;
            case ScriptStep::Kind::ExpectEdited:
                if (run_.edited && !run_.edited(s.index))
                    fail(s, "the host saw no whole edit of parameter " + std::to_string(s.index));
                return;
            case ScriptStep::Kind::ExpectHeld:
                if (!run_.instance.midi().keyHeld(s.count))
                    fail(s, "note " + std::to_string(s.count) + " is not held");
                return;
            case ScriptStep::Kind::Snapshot:
                return snapshot(s);
        }
    }

    std::vector<std::string> failures;

  private:
    void fail(const ScriptStep& s, const std::string& what) {
        failures.push_back("line " + std::to_string(s.line) + ": " + what);
    }

    void send(const ScriptStep& s, gui::Event::Kind kind, gui::Point at, gui::MouseButton button,
              int notches = 0) {
        if (!window_) return fail(s, "no off-screen editor is open");
        gui::Event e;
        e.kind = kind;
        e.pos = at;
        e.button = button;
        e.modifiers = modifiers_;
        e.wheelY = notches;
        pointer_ = at;
        window_->inject(e);
        editor_->idle();
    }

    void process(int frames) {
        constexpr int kBlock = 256;
        std::array<std::array<float, kBlock>, 4> buffers{};
        float* inputs[2] = {buffers[0].data(), buffers[1].data()};
        float* outputs[2] = {buffers[2].data(), buffers[3].data()};
        for (int done = 0; done < frames; done += kBlock)
            run_.instance.processReplacing(inputs, outputs, std::min(kBlock, frames - done));
    }

    void expectParam(const ScriptStep& s) {
        if (s.index < 0 || s.index >= kNumHostParameters)
            return fail(s, "no host parameter " + std::to_string(s.index));
        const float expected = s.value + (s.relative ? start_[static_cast<std::size_t>(s.index)] : 0.0f);
        const float actual = run_.instance.getParameter(s.index);
        if (!(std::fabs(actual - expected) <= s.tolerance))
            fail(s, "parameter " + std::to_string(s.index) + " is " + std::to_string(actual) + ", expected " +
                        std::to_string(expected));
    }

    void snapshot(const ScriptStep& s) {
        if (!window_) return fail(s, "no off-screen editor is open");
        std::filesystem::path path = s.path;
        if (path.is_relative()) path = run_.snapshotFolder / path;
        if (!window_->writePng(path.string())) fail(s, "cannot write " + path.string());
    }

    const ScriptRun& run_;
    editor::TMUniClientEditor* editor_;
    gui::OffscreenWindow* window_ = nullptr;
    std::array<float, kNumHostParameters> start_{};
    gui::MouseButton held_ = gui::MouseButton::None;
    unsigned modifiers_ = 0;
    gui::Point pointer_;
};

}  // namespace

std::vector<std::string> playEditorScript(const host::EditorScript& script, const ScriptRun& run) {
    Player player(run);
    for (const ScriptStep& step : script.steps) player.play(step);
    return std::move(player.failures);
}

}  // namespace kf::test
