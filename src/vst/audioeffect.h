// Plug-in side of the VST 2.4 interface: the AEffect record handed to the host, the
// dispatcher that turns host opcodes into virtual operations, and the host callback.
// Defaults are those hosts expect of every VST 2.4 plug-in; a plug-in overrides what it needs.
#pragma once

#include <cstdint>

#include "vst/aeffect.h"

namespace vst {

// The editor's side of the interface: the dispatcher forwards the editor opcodes here.
class AEffEditor {
  public:
    virtual ~AEffEditor() = default;
    // Hands the host a pointer to a rectangle that lives as long as the editor.
    virtual bool getRect(ERect** rect) = 0;
    virtual bool open(void* parentWindow) = 0;
    virtual void close() = 0;
    virtual void idle() {}
};

class AudioEffect {
  public:
    AudioEffect(AudioMasterCallback master, int32_t numPrograms, int32_t numParams);
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    AEffect* getAeffect() { return &cEffect_; }
    static AudioEffect* fromAeffect(AEffect* e) { return e ? static_cast<AudioEffect*>(e->object) : nullptr; }

    // Calls the host; 0 when the host gave no callback.
    intptr_t callHost(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) const;
    bool hasHost() const { return audioMaster_ != nullptr; }

    virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setSampleRate(float sampleRate) { sampleRate_ = sampleRate; }
    virtual void setBlockSize(int32_t blockSize) { blockSize_ = blockSize; }
    // The audio thread's calls never throw (no allocation, no locks there).
    virtual void processReplacing(float** inputs, float** outputs, int32_t frames) noexcept;

    virtual void setParameter(int32_t /*index*/, float /*value*/) {}
    virtual float getParameter(int32_t /*index*/) { return 0.0f; }
    virtual void setParameterAutomated(int32_t index, float value);

    virtual void setProgram(int32_t program) { curProgram_ = program; }
    virtual int32_t getProgram() { return curProgram_; }
    virtual void setProgramName(const char* /*name*/) {}
    // The string getters below write into a scratch buffer of kScratchBytes; the
    // dispatcher copies a bounded prefix into the host's buffer.
    virtual void getProgramName(char* name) { name[0] = 0; }
    virtual void getParameterLabel(int32_t /*index*/, char* label) { label[0] = 0; }
    virtual void getParameterDisplay(int32_t /*index*/, char* text) { text[0] = 0; }
    virtual void getParameterName(int32_t /*index*/, char* text) { text[0] = 0; }

    virtual int32_t getChunk(void** /*data*/, bool /*isPreset*/) { return 0; }
    virtual int32_t setChunk(void* /*data*/, int32_t /*byteSize*/, bool /*isPreset*/) { return 0; }

    void setEditor(AEffEditor* editor);
    AEffEditor* getEditor() const { return editor_; }

    float getSampleRate() const { return sampleRate_; }
    int32_t getBlockSize() const { return blockSize_; }

    static constexpr int kScratchBytes = 512;

  protected:
    void setUniqueID(int32_t id) { cEffect_.uniqueID = id; }
    void setNumInputs(int32_t n) { cEffect_.numInputs = n; }
    void setNumOutputs(int32_t n) { cEffect_.numOutputs = n; }
    void setFlag(int32_t flag, bool on);
    void canProcessReplacing(bool on = true) { setFlag(effFlagsCanReplacing, on); }
    void programsAreChunks(bool on = true) { setFlag(effFlagsProgramChunks, on); }
    void noTail(bool on = true) { setFlag(effFlagsNoSoundInStop, on); }
    void setNumPrograms(int32_t n) {
        numPrograms_ = n;
        cEffect_.numPrograms = n;
    }

    AudioMasterCallback audioMaster_;
    AEffEditor* editor_ = nullptr;
    float sampleRate_ = 44100.0f;
    int32_t blockSize_ = 1024;
    int32_t numPrograms_;
    int32_t numParams_;
    int32_t curProgram_ = 0;
    AEffect cEffect_{};
};

// The 2.x extensions: events, properties, identity strings and capabilities.
class AudioEffectX : public AudioEffect {
  public:
    using AudioEffect::AudioEffect;

    intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) override;

    virtual int32_t processEvents(VstEvents* /*events*/) noexcept { return 0; }
    virtual bool canParameterBeAutomated(int32_t /*index*/) { return true; }
    virtual bool string2parameter(int32_t /*index*/, char* /*text*/) { return false; }
    virtual bool getProgramNameIndexed(int32_t /*category*/, int32_t /*index*/, char* /*text*/) {
        return false;
    }
    virtual bool getInputProperties(int32_t /*index*/, VstPinProperties* /*props*/) { return false; }
    virtual bool getOutputProperties(int32_t /*index*/, VstPinProperties* /*props*/) { return false; }
    virtual int32_t getPlugCategory() { return kPlugCategUnknown; }
    virtual bool setBypass(bool /*onOff*/) { return false; }
    virtual bool getEffectName(char* /*name*/) { return false; }
    virtual bool getVendorString(char* /*text*/) { return false; }
    virtual bool getProductString(char* /*text*/) { return false; }
    virtual int32_t getVendorVersion() { return 0; }
    virtual intptr_t vendorSpecific(int32_t /*a*/, intptr_t /*b*/, void* /*ptr*/, float /*f*/) { return 0; }
    virtual int32_t canDo(const char* /*text*/) { return 0; }
    virtual int32_t getTailSize() { return 0; }
    virtual bool getParameterProperties(int32_t /*index*/, VstParameterProperties* /*p*/) { return false; }
    virtual int32_t getVstVersion() { return kVstVersion; }
    virtual int32_t getNumMidiInputChannels() { return 0; }
    virtual int32_t getNumMidiOutputChannels() { return 0; }
    virtual int32_t startProcess() { return 0; }
    virtual int32_t stopProcess() { return 0; }
    virtual bool setProcessPrecision(int32_t precision) { return precision == 0; }  // 32-bit only

    virtual bool beginEdit(int32_t index) { return callHost(audioMasterBeginEdit, index) != 0; }
    virtual bool endEdit(int32_t index) { return callHost(audioMasterEndEdit, index) != 0; }
    // The host's time information for the fields in mask, or null.
    VstTimeInfo* getTimeInfo(int32_t mask) const {
        return reinterpret_cast<VstTimeInfo*>(callHost(audioMasterGetTime, 0, mask));
    }
    bool getHostVendorString(char* text) const {
        return callHost(audioMasterGetVendorString, 0, 0, text) != 0;
    }
    bool getHostProductString(char* text) const {
        return callHost(audioMasterGetProductString, 0, 0, text) != 0;
    }
};

// Copies src into dst of dstBytes bytes, always terminated; returns dst.
char* copyBounded(char* dst, const char* src, std::size_t dstBytes);

}  // namespace vst
