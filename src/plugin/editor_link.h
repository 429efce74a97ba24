// The instance's side of the editor interface: what the editor may read and change.
#pragma once

#include <array>
#include <atomic>
#include <memory>

#include "common/parameter_table.h"
#include "editor/editor_host.h"
#include "platform/file_dialogs.h"
#include "vst/audioeffect.h"

namespace kf {

class TMUniClient;

class EditorLink : public editor::EditorHost {
  public:
    explicit EditorLink(TMUniClient& instance) : instance_(instance) {}

    // The editor the instance attaches at construction. Its file dialogs answer from
    // `dialogs` when given (tests), else from the desktop's dialog program.
    std::unique_ptr<vst::AEffEditor> createEditor(platform::FileDialogs* dialogs);

    // Remembers every value as the reset value of its control; the instance calls it once,
    // right after the default preset loaded.
    void captureDefaults();

    float parameterValue(int32_t tag) const override;
    int32_t choice(int32_t tag) const override;
    float defaultValue(int32_t tag) const override;
    void setParameter(int32_t tag, float value) override;
    void setParameterAutomated(int32_t tag, float value) override;
    void beginEdit(int32_t tag) override;
    void endEdit(int32_t tag) override;
    float meter(int32_t index) const override;
    int32_t learnTarget() const override;
    bool takeRefresh() override;
    uint32_t heldKeys(int32_t word) const override;
    bool keyHeld(int32_t note) const override;
    bool postNoteOn(int32_t note, int32_t velocity) override;
    bool postNoteOff(int32_t note, int32_t velocity) override;
    float keyboardBase() const override { return keyboardBase_.load(std::memory_order_relaxed); }
    void setKeyboardBase(float note) override { keyboardBase_.store(note, std::memory_order_relaxed); }

  private:
    TMUniClient& instance_;
    std::array<float, kMaxTag + 1> defaults_{};
    std::atomic<float> keyboardBase_{editor::kInitialKeyboardBase};
};

}  // namespace kf
