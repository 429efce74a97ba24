// The plug-in instance the host creates: the glue between the host and the parts it owns:
// the engine (with its sound sources), the insert effects, the parameter model, the MIDI
// intake, the sample and the settings. Host requests are answered in uniclient.cpp, the
// persistent side (chunks, presets, settings) lives in uniclient_presets.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/editor_refresh.h"
#include "effects/insert_effects.h"
#include "engine/engine.h"
#include "platform/file_dialogs.h"
#include "platform/message_service.h"
#include "platform/settings_store.h"
#include "plugin/editor_link.h"
#include "plugin/midi_intake.h"
#include "plugin/parameter_model.h"
#include "plugin/state_chunk.h"
#include "plugin/user_messages.h"
#include "state/chunk.h"
#include "state/paths.h"
#include "state/sample_data.h"
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
    static constexpr const char* kPresetExtension = kf::kPresetExtension;

    explicit TMUniClient(vst::AudioMasterCallback master, PluginServices services = {});
    ~TMUniClient() override;

    // Host interface: the host's main thread, while no processing call runs (a host suspends
    // before it changes the rate and resumes before it processes again).
    void suspend() override;
    void resume() override;
    void setSampleRate(float sampleRate) override;
    // Host interface: the audio thread, one call at a time; never allocates, locks or waits.
    void processReplacing(float** inputs, float** outputs, int32_t frames) noexcept override;
    int32_t processEvents(vst::VstEvents* events) noexcept override { return midi_.processEvents(events); }
    // Editor's thread (the manual link).
    void openManual() override;
    // Any thread at once: the host's automation, its main thread, the editor's (through
    // setParameterAutomated) and the audio thread's learned controllers (through MidiTarget,
    // which shares this override). Values are stored whole and handed to the audio thread
    // through change marks, so the last value set wins.
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void setParameterAutomated(int32_t index, float value) override;
    // Host interface: the host's main thread (names, readouts, programs, capabilities). They
    // read parameter records and constants only, so a processing call may run meanwhile.
    void setProgram(int32_t program) override;
    void getProgramName(char* name) override;
    // Names the current state (stored in the chunk), as loading a preset file does.
    void setProgramName(const char* name) override;
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
    // Host interface: the host's main thread (or whichever saves and loads projects), under
    // stateMutex_; a load holds the audio thread out while it changes the state.
    int32_t getChunk(void** data, bool isPreset) override;
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override;

    // State and presets. A refused state leaves everything as it was and says why.
    bool loadState(TMChunk& chunk, bool fullRecall);
    // Loads a preset file; an empty path asks the user for one.
    bool loadPresetFile(std::string path);
    // Saves the current state as a preset file, replacing one that is there; an empty path
    // asks the user for one (as savePresetAs).
    bool savePresetFile(std::string path);
    // Saves under the name a save dialog answered, adding the preset extension when the user
    // left it out. The dialog asked before the user chose an existing file; a file that only
    // the added extension names was never shown, so it is not replaced, and the user is told.
    bool savePresetAs(const std::string& answered);
    bool choosePresetFolder(std::string& folder, int slot);
    // Makes `folder` the preset folder of `slot` (0: the one presets are listed and loaded
    // from), stored in the settings with a trailing separator.
    void setPresetFolder(const std::string& folder, int slot);
    struct PresetEntry {
        std::string name;
        std::string path;
        bool isFolder;
    };
    // More than a menu can usefully show; a folder holding more lists its first ones by name.
    static constexpr std::size_t kMaxPresetEntries = 500;
    // Preset files ("kfn") and subfolders of a folder, each group sorted by name, files first,
    // at most kMaxPresetEntries in all. Folders reached through a symbolic link are left
    // out, so no listing that descends into subfolders can loop.
    static std::vector<PresetEntry> listPresets(const std::string& folder);
    std::string presetFolder() const;
    // Where a save dialog starts: the remembered save folder, else the preset folder.
    std::string presetSaveFolder() const;
    // What a save dialog suggests: the current program's name as a preset file in the save
    // folder, extension included, so the dialog checks the name that will be written.
    std::string presetSaveSuggestion() const;
    float ccMapRecallIsolate() const { return ccMapRecallIsolate_; }
    const TMSampleData& sample() const { return sample_; }
    TMSampleData& sample() { return sample_; }
    TMSampleReader& sampleReader() { return engine_.sampleReader(); }
    // The sample view's operations (user-interface thread): a file the user chose becomes
    // the sample, spanning all of it; when it cannot be loaded the user is told and the
    // sample stays as it was.
    bool loadSampleFile(const std::string& path);
    platform::SettingsStore& settings() { return settings_; }

    // MIDI learn operations the editor calls (user-interface thread). Arming MidiIntake::kNoLearn
    // disarms.
    void armLearn(int32_t tag) { midi_.armLearn(tag, 0); }
    // Removes a parameter's controller mappings (the knob menu's "clear") and maps controller
    // c to the parameter alone. Both keep the audio thread out while the maps change; when it
    // stays busy they change nothing, tell the user and answer false.
    bool clearLearn(int32_t tag);
    bool assignController(int32_t tag, int controller, int16_t aux);
    const MidiIntake& midi() const { return midi_; }
    MidiIntake& midi() { return midi_; }
    int32_t getPlugCategory() override { return vst::kPlugCategEffect; }

    // What the editor and tests look at.
    const ParameterSet& parameters() const { return model_.parameters(); }
    EditorLink& editorLink() { return editorLink_; }
    UserMessages& userMessages() { return messages_; }
    // The editor made with the instance; its window opens when the host asks.
    editor::TMUniClientEditor& editor() { return editorAdapter_->editor(); }
    const EditorRefresh& editorRefresh() const { return model_.refresh(); }
    EditorRefresh& editorRefresh() { return model_.refresh(); }
    const Engine& engine() const { return engine_; }
    Engine& engine() { return engine_; }
    const SynthControls& synth() const { return engine_.synth(); }
    const CarrierSynth& carrier() const { return engine_.carrier(); }
    const SamplerControls& sampler() const { return engine_.sampler(); }
    const float* noiseTable() const { return engine_.noiseTable(); }
    bool hostIsMaker() const { return hostIsMaker_; }
    bool hostIsAcid() const { return hostIsAcid_; }
    std::string currentProgramName() const;
    float ignoreProgramChange() const { return ignorePrgChange_; }
    float programFloat() const { return programFloat_; }
    TMEffect* effect(int choice) { return effects_.forChoice(choice); }
    const InsertEffects& effects() const { return effects_; }

  private:
    // EngineHost, during processing: the audio thread.
    bool beginBlock(HostTimeInfo& time) override;
    void dispatchEvents() override { midi_.dispatch(kControlInterval); }
    // EngineHost, during the set-up: the thread of the host's sample-rate call.
    void resendParameter(int32_t tag) override { model_.set(tag, model_.parameters().value(tag)); }
    void afterSetup() override;

    // MidiTarget: what note and controller handling change, on the audio thread (and on the
    // set-up's thread when it re-applies the held notes).
    void heldNotesChanged() override;
    // Waits (1 ms steps, at most 500) until no processing call runs, with the loading flag
    // set so none starts; false when it gave up, with the flag cleared again.
    bool holdAudioThread();
    void releaseAudioThread();
    // The audio thread held out and controller events kept back, for an edit of the learn
    // maps; when the hold gives up the user is told and nothing is held.
    bool holdForMapEdit();
    void releaseAfterMapEdit();

    void identifyHost();
    void readSettings();
    void loadDefaultPreset();
    LearnMaps snapshotMaps();
    // Writes the whole state into `chunk` (counted, allocated, written); its size in words, 0
    // when it could not be written.
    int32_t writeChunk(TMChunk& chunk);
    void showMessage(const char* format);

    // Declared in construction order: the sample before the engine that plays it, the engine
    // (whose timing object the others share) before the effects and the parameter model.
    TMSampleData sample_;
    Engine engine_;
    InsertEffects effects_;
    ParameterModel model_;
    MidiIntake midi_;

    std::unique_ptr<platform::MessageService> ownMessages_;
    std::unique_ptr<platform::FileDialogs> ownDialogs_;
    // Every message for the user passes here, to the desktop or to the editor's page.
    UserMessages messages_;
    platform::FileDialogs* dialogs_;
    platform::SettingsStore settings_;
    std::span<const uint8_t> builtInDefaultPreset_;
    TMChunk chunk_;  // the buffer handed to the host by getChunk
    std::string presetPath_;
    float ccMapRecallIsolate_ = 0.0f;
    EditorLink editorLink_{*this};
    EditorAdapter* editorAdapter_ = nullptr;  // owned as the plug-in interface's editor

    bool hostIsMaker_ = false;
    bool hostIsAcid_ = false;
    std::string programName_ = "default";
    // Serialises what the host's threads and the editor's do to the state as a whole (loads,
    // chunk writes, the program name, the preset folder); the audio thread never takes it.
    // Recursive, since a preset load is a state load and a host may call back into the
    // instance from the notices a load sends.
    mutable std::recursive_mutex stateMutex_;
    float ignorePrgChange_ = 1.0f;
    float programFloat_ = 0.0f;
};

}  // namespace kf
