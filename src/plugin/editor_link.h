// The instance's side of the editor's ports: what the editor may read and change. One object
// serves all six; each of the editor's views is handed the one port it uses.
#pragma once

#include <array>
#include <atomic>
#include <memory>

#include "common/parameter_table.h"
#include "editor/ports.h"
#include "platform/file_dialogs.h"
#include "plugin/editor_adapter.h"

namespace kf {

class TMUniClient;

class EditorLink : public editor::ParameterPort,
                   public editor::LearnPort,
                   public editor::PresetPort,
                   public editor::SamplePort,
                   public editor::KeyboardPort,
                   public editor::PagePort {
  public:
    using DialogRequest = editor::DialogRequest;

    explicit EditorLink(TMUniClient& instance) : instance_(instance) {}

    // The editor the instance attaches at construction, behind the adapter the host talks to;
    // null in a build without one. Its file dialogs answer from `dialogs` when given (tests),
    // else from the desktop's.
    std::unique_ptr<EditorAdapter> createEditor(platform::FileDialogs* dialogs);
    editor::EditorPorts ports() { return {*this, *this, *this, *this, *this, *this}; }

    // Remembers every value as the reset value of its control; the instance calls it once,
    // right after the default preset loaded.
    void captureDefaults();

    // Parameters.
    float parameterValue(int32_t tag) const override;
    int32_t choice(int32_t tag) const override;
    float defaultValue(int32_t tag) const override;
    void setParameter(int32_t tag, float value) override;
    void setParameterAutomated(int32_t tag, float value) override;
    void beginEdit(int32_t tag) override;
    void endEdit(int32_t tag) override;
    float sampleRate() const override;
    bool effectText(int32_t tag, float working, char* text) const override;

    // MIDI learn.
    int32_t learnTarget() const override;
    void armLearn(int32_t tag) override;
    bool clearLearn(int32_t tag) override;
    bool assignController(int32_t tag, int controller, int16_t aux) override;
    const char* controllerName(int controller) const override;

    // The page.
    bool takeRefresh() override;
    float meter(int32_t index) const override;
    bool takeBandLevels(editor::BandLevels& levels) override;
    editor::Overlay overlay() const override { return overlay_.load(std::memory_order_relaxed); }
    void setOverlay(editor::Overlay state) override { overlay_.store(state, std::memory_order_relaxed); }
    void openManual() override;
    void setPageShown(bool shown) override;
    std::string takeMessage() override;

    // Presets.
    std::string presetFolder() const override;
    std::vector<PresetNode> listPresets(const std::string& folder, int depth) const override;
    DialogRequest presetDialog(PresetDialog which) const override;
    bool loadPresetFile(const std::string& path) override;
    bool savePresetFile(const std::string& path) override;
    void setPresetFolder(const std::string& folder) override;
    std::string currentProgramName() const override;

    // The sampler's sample.
    uint32_t sampleGeneration() const override;
    int32_t sampleFrames() const override;
    bool sampleIsStereo() const override;
    std::string sampleName() const override;
    std::string samplePath() const override;
    std::vector<SampleExtent> sampleOverview(int channel, int32_t first, int32_t count,
                                             int32_t columns) const override;
    int32_t sampleStartMarker() const override;
    int32_t sampleEndMarker() const override;
    float samplePlayPosition() const override;
    bool snapSampleMarker(bool start, int32_t frame) override;
    bool loadSampleFile(const std::string& path) override;
    DialogRequest sampleFileDialog() const override;
    DialogRequest sampleFolderDialog() const override;
    std::string sampleFolder() const override;
    void setSampleFolder(const std::string& folder) override;

    // The keyboard.
    uint32_t heldKeys(int32_t word) const override;
    bool keyHeld(int32_t note) const override;
    bool postNoteOn(int32_t note, int32_t velocity) override;
    bool postNoteOff(int32_t note, int32_t velocity) override;
    float keyboardBase() const override { return keyboardBase_.load(std::memory_order_relaxed); }
    void setKeyboardBase(float note) override { keyboardBase_.store(note, std::memory_order_relaxed); }

  private:
    TMUniClient& instance_;
    std::array<float, kMaxTag + 1> defaults_{};
    // Not part of the stored state: a page of the window, not of the sound.
    std::atomic<editor::Overlay> overlay_{editor::Overlay::Off};
    std::atomic<float> keyboardBase_{editor::kInitialKeyboardBase};
};

}  // namespace kf
