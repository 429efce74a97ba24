// The plug-in instance the host creates: it owns the parameters, the engine and its
// sources, the insert effects and the editor state, and answers every host request.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/view_groups.h"
#include "effects/insert_effects.h"
#include "engine/carrier_synth.h"
#include "engine/engine.h"
#include "engine/sampler_controls.h"
#include "engine/synth_controls.h"
#include "platform/file_dialogs.h"
#include "platform/message_service.h"
#include "platform/settings_store.h"
#include "plugin/midi_intake.h"
#include "plugin/parameters.h"
#include "plugin/state_chunk.h"
#include "state/chunk.h"
#include "state/sample_data.h"
#include "state/sample_reader.h"
#include "vst/audioeffect.h"

namespace kf {

// Desktop services the instance talks to the user through; null means the desktop's.
struct PluginServices {
    platform::MessageService* messages = nullptr;
    platform::FileDialogs* dialogs = nullptr;
    // State loaded when the default preset file cannot be read (the module passes the
    // factory default compiled into it); empty: the initial values stay.
    std::span<const uint8_t> builtInDefaultPreset = {};
};

// The plug-in's own base: two hooks the editor calls, nothing else.
class TMPluginBase : public vst::AudioEffectX {
  public:
    using vst::AudioEffectX::AudioEffectX;
    virtual void openManual() {}
    virtual void editorClosed() {}
};

// Cache-line aligned like the engine buffers it holds (more than the 32 bytes vector code needs).
class alignas(64) TMUniClient : public TMPluginBase, private EngineHost, private MidiTarget {
  public:
    static constexpr const char* kProductName = "Kestrafone";
    static constexpr const char* kVendorName = "Tallow Mill";
    static constexpr const char* kAcidHostProduct = "Sony ACID Pro";
    static constexpr int32_t kVendorVersion = 1300;
    static constexpr int32_t kNoiseTableSize = 1024;

    explicit TMUniClient(vst::AudioMasterCallback master, PluginServices services = {});
    ~TMUniClient() override;

    // Host interface.
    void suspend() override;
    void resume() override;
    void setSampleRate(float sampleRate) override;
    void processReplacing(float** inputs, float** outputs, int32_t frames) override;
    void openManual() override;
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void setParameterAutomated(int32_t index, float value) override;
    void setProgram(int32_t program) override;
    void getProgramName(char* name) override;
    // Names the current state (stored in the chunk), as loading a preset file does.
    void setProgramName(const char* name) override { programName_ = name; }
    void getParameterLabel(int32_t index, char* label) override;
    void getParameterDisplay(int32_t index, char* text) override;
    void getParameterName(int32_t index, char* text) override;
    bool getParameterProperties(int32_t index, vst::VstParameterProperties* p) override;
    bool beginEdit(int32_t index) override;
    bool endEdit(int32_t index) override;
    bool getProgramNameIndexed(int32_t category, int32_t index, char* text) override;
    bool getOutputProperties(int32_t index, vst::VstPinProperties* props) override;
    int32_t getNumMidiInputChannels() override { return 1; }
    bool getEffectName(char* name) override;
    bool getProductString(char* text) override;
    bool getVendorString(char* text) override;
    int32_t getVendorVersion() override { return kVendorVersion; }
    int32_t canDo(const char* text) override;
    int32_t processEvents(vst::VstEvents* events) override { return midi_.processEvents(events); }
    int32_t getChunk(void** data, bool isPreset) override;
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override;

    // State and presets. A refused state leaves everything as it was and says why.
    bool loadState(TMChunk& chunk, bool fullRecall);
    // Loads a preset file; an empty path asks the user for one.
    bool loadPresetFile(std::string path);
    // Saves the current state as a preset file; an empty path asks the user for one.
    bool savePresetFile(std::string path);
    bool choosePresetFolder(std::string& folder, int slot);
    struct PresetEntry {
        std::string name;
        std::string path;
        bool isFolder;
    };
    // Preset files ("kfn") and subfolders of a folder, each group sorted by name.
    static std::vector<PresetEntry> listPresets(const std::string& folder);
    const std::string& presetFolder() const { return presetPath_; }
    float ccMapRecallIsolate() const { return ccMapRecallIsolate_; }
    const TMSampleData& sample() const { return sample_; }
    TMSampleData& sample() { return sample_; }
    TMSampleReader& sampleReader() { return sampleReader_; }

    // MIDI learn operations the editor calls (user-interface thread).
    void armLearn(int32_t tag) { midi_.armLearn(tag, 0); }
    // Removes a parameter's controller mappings (the knob menu's "clear").
    void clearLearn(int32_t tag) { midi_.removeTag(tag); }
    // Maps controller c to the parameter alone, keeping the audio thread out while the maps
    // change; false (nothing changed) when the audio thread stayed busy.
    bool assignController(int32_t tag, int controller, int16_t aux);
    const MidiIntake& midi() const { return midi_; }
    MidiIntake& midi() { return midi_; }
    int32_t getPlugCategory() override { return vst::kPlugCategEffect; }

    // What the editor and tests look at.
    const ParameterSet& parameters() const { return params_; }
    const ViewGroupMask& viewGroups() const { return viewGroups_; }
    ViewGroupMask& viewGroups() { return viewGroups_; }
    const EditorRefresh& editorRefresh() const { return refresh_; }
    const Engine& engine() const { return engine_; }
    Engine& engine() { return engine_; }
    const SynthControls& synth() const { return synth_; }
    const CarrierSynth& carrier() const { return carrier_; }
    const SamplerControls& sampler() const { return sampler_; }
    const float* noiseTable() const { return noiseTable_; }
    bool hostIsMaker() const { return hostIsMaker_; }
    bool hostIsAcid() const { return hostIsAcid_; }
    const std::string& currentProgramName() const { return programName_; }
    float ignoreProgramChange() const { return ignorePrgChange_; }
    float programFloat() const { return programFloat_; }
    TMEffect* effect(int choice) { return effects_.forChoice(choice); }

  private:
    // EngineHost: what the engine asks of its owner during processing and set-up.
    bool queryTime(HostTimeInfo& time) override;
    void resendParameter(int32_t tag) override;
    void refreshAfterSetup() override;
    void sendKeyboardNotes() override { midi_.sendKeyboardNotes(); }
    void handleQueuedEvents() override { midi_.dispatch(kControlInterval); }
    void transportChanged(bool playing) override;
    void renderSynth(float* out, int32_t n, float offset) override { carrier_.render(out, n, offset); }
    void refillSampler(float* left, float* right) override {
        sampleReader_.refill({sampler_.trigger(), sampler_.gain(), sampler_.pitch(), sampler_.loopCount()},
                             left, right);
    }

    // MidiTarget: what note and controller handling change.
    void heldNotesChanged() override;
    // Waits (1 ms steps, at most 500) until no processing call runs, with the loading flag
    // set so none starts; false when it gave up, with the flag cleared again.
    bool holdAudioThread();
    void releaseAudioThread();

    InputStage& inputStage(bool first) { return first ? engine_.inputStage1() : engine_.inputStage2(); }

    void identifyHost();
    void fillNoiseTable();
    void setInitialValues();
    void readSettings();
    void loadDefaultPreset();
    LearnMaps snapshotMaps();
    void showMessage(const char* format);
    void applyModeFlags(int32_t tag);
    void applyViewGroups(int32_t tag);
    void applyOverlayBit();
    void storeChoice(ParameterRecord& r, float scaled);

    ParameterSet params_;
    Engine engine_;
    SynthControls synth_;
    float noiseTable_[kNoiseTableSize] = {};
    CarrierSynth carrier_;
    SamplerControls sampler_;
    InsertEffects effects_;
    MidiIntake midi_;
    TMSampleData sample_;
    TMSampleReader sampleReader_{engine_.systemInfo(), sample_};

    std::unique_ptr<platform::MessageService> ownMessages_;
    std::unique_ptr<platform::FileDialogs> ownDialogs_;
    platform::MessageService* messages_;
    platform::FileDialogs* dialogs_;
    platform::SettingsStore settings_;
    std::span<const uint8_t> builtInDefaultPreset_;
    TMChunk chunk_;  // the buffer handed to the host by getChunk
    std::string presetPath_;
    float ccMapRecallIsolate_ = 0.0f;
    ViewGroupMask viewGroups_;
    EditorRefresh refresh_;

    bool hostIsMaker_ = false;
    bool hostIsAcid_ = false;
    std::string programName_ = "default";
    float ignorePrgChange_ = 1.0f;
    float programFloat_ = 0.0f;
    // Last values of the mode flags, so a dependent value follows only a change.
    float carrierFlag_ = 0.0f;
    float modulatorFlag_ = 0.0f;
};

}  // namespace kf
