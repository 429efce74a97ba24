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

class EditorLink final : public editor::EditorHost {
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
    editor::Overlay overlay() const override { return overlay_.load(std::memory_order_relaxed); }
    void setOverlay(editor::Overlay state) override { overlay_.store(state, std::memory_order_relaxed); }
    void openManual() override;

  private:
    TMUniClient& instance_;
    std::array<float, kMaxTag + 1> defaults_{};
    // Not part of the stored state: a page of the window, not of the sound.
    std::atomic<editor::Overlay> overlay_{editor::Overlay::Off};
};

}  // namespace kf
