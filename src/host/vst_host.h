// A small VST 2.4 host: loads a plug-in library through its entry point, answers its
// callbacks, and wraps the dispatcher in typed calls. Used by kestrafone-render and by
// the integration tests, which load real plug-ins (ours and third-party ones) with it.
//
// Nothing here throws: every fallible operation reports through a returned value and
// an error text, because a C++ exception must never unwind through plug-in code.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/plugin_library.h"
#include "vst/aeffect.h"

namespace kf::host {

// What the host answers to audioMasterGetCurrentProcessLevel.
enum class ProcessLevel : int32_t { Unknown = 0, User = 1, Realtime = 2, Prefetch = 3, Offline = 4 };

// Who the host claims to be. Set before loading: plug-ins ask while they are constructed.
struct HostIdentity {
    std::string vendor = "Kestrafone Project";  // at most 64 characters reach the plug-in
    std::string product = "kestrafone-render";
    int32_t vendorVersion = 1000;
};

// The musical position the host reports through audioMasterGetTime.
struct Transport {
    double samplePos = 0.0;  // frames since the start of the song
    double ppqPos = 0.0;     // quarter notes since the start of the song
    double tempo = 120.0;    // beats per minute
    bool playing = true;
    int32_t timeSigNumerator = 4;
    int32_t timeSigDenominator = 4;
};

// A call the plug-in made to tell the host about a parameter edit.
struct EditRecord {
    enum class Kind { Automate, BeginEdit, EndEdit };
    Kind kind;
    int32_t index;
    float value;  // Automate only
    bool operator==(const EditRecord&) const = default;
};

struct VendorSpecificRecord {
    int32_t index;
    intptr_t value;
    void* ptr;
    float opt;
};

// One MIDI message for processEvents: three bytes at a frame offset inside the next block.
struct MidiMessage {
    int32_t deltaFrames;
    std::array<uint8_t, 3> data;
};

// The host side of one loaded plug-in: the state its callbacks read and the calls they
// record. Callbacks may arrive from any thread the plug-in uses, so the records are
// guarded and the scalar settings are atomics.
class HostContext {
  public:
    explicit HostContext(HostIdentity identity) : identity_(std::move(identity)) {}

    const HostIdentity& identity() const { return identity_; }

    void setSampleRate(double hz) { sampleRate_.store(hz, std::memory_order_relaxed); }
    double sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }
    void setBlockSize(int32_t frames) { blockSize_.store(frames, std::memory_order_relaxed); }
    int32_t blockSize() const { return blockSize_.load(std::memory_order_relaxed); }
    void setProcessLevel(ProcessLevel level) { processLevel_.store(level, std::memory_order_relaxed); }
    ProcessLevel processLevel() const { return processLevel_.load(std::memory_order_relaxed); }

    void setTransport(const Transport& t);
    Transport transport() const;
    // false: audioMasterGetTime answers 0, as a host without a transport does.
    void setTimeInfoAvailable(bool available) { timeInfoAvailable_.store(available); }
    // The answer to audioMasterVendorSpecific.
    void setVendorSpecificAnswer(intptr_t answer) { vendorSpecificAnswer_.store(answer); }

    std::vector<EditRecord> edits() const;
    std::vector<VendorSpecificRecord> vendorSpecificCalls() const;
    void clearRecords();
    // How often the plug-in called the host with this audioMaster opcode (0..63).
    uint32_t callCount(int32_t opcode) const;
    // True once the plug-in asked for the host version with a null effect pointer.
    bool versionAskedWithoutEffect() const { return versionAskedWithoutEffect_.load(); }

    // The callback proper; `effect` may be null (the version query inside the entry point).
    intptr_t answer(vst::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                    float opt);

  private:
    intptr_t fillTimeInfo(intptr_t requestMask);

    const HostIdentity identity_;
    std::atomic<double> sampleRate_{44100.0};
    std::atomic<int32_t> blockSize_{512};
    std::atomic<ProcessLevel> processLevel_{ProcessLevel::User};
    std::atomic<bool> timeInfoAvailable_{true};
    std::atomic<intptr_t> vendorSpecificAnswer_{0};
    std::atomic<bool> versionAskedWithoutEffect_{false};
    std::array<std::atomic<uint32_t>, 64> callCounts_{};

    mutable std::mutex mutex_;  // guards everything below
    Transport transport_;
    std::vector<EditRecord> edits_;
    std::vector<VendorSpecificRecord> vendorCalls_;
};

struct LoadOptions {
    HostIdentity identity;
    bool open = true;  // send effOpen after the entry point, as every host does
};

// One loaded plug-in instance. Destruction sends effClose and unloads the library.
class Plugin {
  public:
    // Loads `path`, calls its entry point (VSTPluginMain, else main) and checks the
    // returned record. On failure returns null and explains why in `error`.
    static std::unique_ptr<Plugin> load(const std::string& path, const LoadOptions& options,
                                        std::string& error);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    vst::AEffect* effect() const { return effect_; }
    HostContext& host() { return *host_; }
    const std::string& path() const { return path_; }
    // Which symbol the entry point was found under: "VSTPluginMain" or "main".
    const std::string& entryName() const { return entryName_; }

    int32_t numInputs() const { return effect_->numInputs; }
    int32_t numOutputs() const { return effect_->numOutputs; }
    int32_t numParams() const { return effect_->numParams; }
    int32_t numPrograms() const { return effect_->numPrograms; }
    int32_t flags() const { return effect_->flags; }
    int32_t uniqueId() const { return effect_->uniqueID; }
    int32_t initialDelay() const { return effect_->initialDelay; }

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);

    void open();
    void setSampleRate(double hz);
    void setBlockSize(int32_t frames);
    void resume();
    void suspend();
    void startProcess();
    void stopProcess();
    // The usual start-up sequence: rate, block size, resume, start. Idempotent stop().
    void start(double sampleRate, int32_t maxBlockSize);
    void stop();
    bool running() const { return running_; }

    std::string effectName();
    std::string vendorString();
    std::string productString();
    int32_t vendorVersion();
    int32_t category();
    int32_t vstVersion();
    // 1 yes, -1 no, 0 don't know.
    int32_t canDo(const std::string& what);

    std::string parameterName(int32_t index);
    std::string parameterLabel(int32_t index);
    std::string parameterDisplay(int32_t index);
    std::optional<vst::VstParameterProperties> parameterProperties(int32_t index);
    float parameter(int32_t index);
    void setParameter(int32_t index, float value);
    std::string programName();

    // Copies the plug-in's state (index 0 bank, 1 program); empty when it gives none.
    std::vector<uint8_t> getChunk(bool program = false);
    intptr_t setChunk(std::span<const uint8_t> data, bool program = false);

    // Hands MIDI messages for the next processing call. They are copied into storage
    // that stays valid until the next processEvents, as plug-ins may read them during
    // the following process call.
    intptr_t processEvents(std::span<const MidiMessage> messages);
    // Processes one block; uses the accumulating call with cleared outputs for a
    // plug-in without processReplacing.
    void process(float* const* inputs, float* const* outputs, int32_t frames);

  private:
    Plugin() = default;
    std::string dispatchString(int32_t opcode, int32_t index = 0);

    std::string path_;
    std::string entryName_;
    std::unique_ptr<PluginLibrary> library_;
    vst::AEffect* effect_ = nullptr;
    std::unique_ptr<HostContext> host_;
    bool running_ = false;
    std::vector<vst::VstMidiEvent> midiStorage_;
    std::vector<uintptr_t> eventsRecord_;  // a VstEvents record: count, reserved, pointers
};

// The four characters of a unique ID, most significant byte first; '?' for bytes
// outside printable ASCII.
std::string fourCharCode(int32_t id);

}  // namespace kf::host
