#include "host/vst_host.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/file_system.h"

namespace kf::host {
namespace {

// The host a plug-in's entry point is being called for. Plug-ins call back before they
// return their AEffect (with a null or not yet published effect pointer), so the entry
// window is covered by this; afterwards the host pointer lives in the record's resvd1,
// the field the interface reserves for the host.
thread_local HostContext* tLoadingHost = nullptr;

intptr_t hostCallback(vst::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                      float opt) {
    HostContext* host = tLoadingHost;
    if (host == nullptr && effect != nullptr) host = reinterpret_cast<HostContext*>(effect->resvd1);
    if (host == nullptr) return opcode == vst::audioMasterVersion ? vst::kVstVersion : 0;
    // An exception must not unwind through the plug-in's frames; the only one possible
    // here is running out of memory while recording a call.
    try {
        return host->answer(effect, opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;
    }
}

// Copies a host string into a plug-in's buffer. The interface guarantees 64 characters
// plus the terminator for vendor and product strings and nothing more.
void copyHostString(void* ptr, const std::string& text) {
    if (ptr == nullptr) return;
    const std::size_t n = std::min<std::size_t>(text.size(), vst::kMaxVendorStrLen);
    std::memcpy(ptr, text.data(), n);
    static_cast<char*>(ptr)[n] = '\0';
}

}  // namespace

// ---------------------------------------------------------------------------------------
// HostContext

void HostContext::setTransport(const Transport& t) {
    std::lock_guard lock(mutex_);
    transport_ = t;
}

Transport HostContext::transport() const {
    std::lock_guard lock(mutex_);
    return transport_;
}

std::vector<EditRecord> HostContext::edits() const {
    std::lock_guard lock(mutex_);
    return edits_;
}

std::vector<VendorSpecificRecord> HostContext::vendorSpecificCalls() const {
    std::lock_guard lock(mutex_);
    return vendorCalls_;
}

void HostContext::clearRecords() {
    std::lock_guard lock(mutex_);
    edits_.clear();
    vendorCalls_.clear();
}

uint32_t HostContext::callCount(int32_t opcode) const {
    if (opcode < 0 || opcode >= static_cast<int32_t>(callCounts_.size())) return 0;
    return callCounts_[static_cast<std::size_t>(opcode)].load();
}

intptr_t HostContext::answer(vst::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                             float opt) {
    if (opcode >= 0 && opcode < static_cast<int32_t>(callCounts_.size()))
        callCounts_[static_cast<std::size_t>(opcode)].fetch_add(1);

    switch (opcode) {
        case vst::audioMasterVersion:
            if (effect == nullptr) versionAskedWithoutEffect_.store(true);
            return vst::kVstVersion;
        case vst::audioMasterAutomate:
        case vst::audioMasterBeginEdit:
        case vst::audioMasterEndEdit: {
            const auto kind = opcode == vst::audioMasterAutomate    ? EditRecord::Kind::Automate
                              : opcode == vst::audioMasterBeginEdit ? EditRecord::Kind::BeginEdit
                                                                    : EditRecord::Kind::EndEdit;
            std::lock_guard lock(mutex_);
            edits_.push_back({kind, index, kind == EditRecord::Kind::Automate ? opt : 0.0f});
            return 1;
        }
        case vst::audioMasterVendorSpecific: {
            std::lock_guard lock(mutex_);
            vendorCalls_.push_back({index, value, ptr, opt});
            return vendorSpecificAnswer_.load();
        }
        case vst::audioMasterGetTime:
            return fillTimeInfo(value);
        case vst::audioMasterWantMidi:
            return 1;
        case vst::audioMasterGetSampleRate:
            return static_cast<intptr_t>(sampleRate());
        case vst::audioMasterGetBlockSize:
            return blockSize();
        case vst::audioMasterGetCurrentProcessLevel:
            return static_cast<intptr_t>(processLevel());
        case vst::audioMasterGetAutomationState:
            return 1;  // automation off: we neither read nor write automation
        case vst::audioMasterGetVendorString:
            copyHostString(ptr, identity_.vendor);
            return 1;
        case vst::audioMasterGetProductString:
            copyHostString(ptr, identity_.product);
            return 1;
        case vst::audioMasterGetVendorVersion:
            return identity_.vendorVersion;
        case vst::audioMasterGetLanguage:
            return 1;  // English
        case vst::audioMasterCanDo: {
            if (ptr == nullptr) return 0;
            static constexpr const char* kYes[] = {"sendVstEvents", "sendVstMidiEvent", "sendVstTimeInfo",
                                                   "startStopProcess"};
            for (const char* s : kYes)
                if (std::strcmp(static_cast<const char*>(ptr), s) == 0) return 1;
            return 0;
        }
        default:
            // Idle, latencies, IOChanged, SizeWindow, directories, file selectors, MIDI
            // output: nothing to do in a window-less offline host.
            return 0;
    }
}

intptr_t HostContext::fillTimeInfo(intptr_t requestMask) {
    if (!timeInfoAvailable_.load()) return 0;
    const Transport t = transport();
    // One record per thread: the plug-in reads it right after the call, and a second
    // thread asking at the same time must not overwrite what the first one reads.
    thread_local vst::VstTimeInfo info;
    info = {};
    info.samplePos = t.samplePos;
    info.sampleRate = sampleRate();
    info.flags = t.playing ? vst::kVstTransportPlaying : 0;
    if (requestMask & vst::kVstNanosValid) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        info.nanoSeconds =
            static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
        info.flags |= vst::kVstNanosValid;
    }
    if (requestMask & vst::kVstPpqPosValid) {
        info.ppqPos = t.ppqPos;
        info.flags |= vst::kVstPpqPosValid;
    }
    if (requestMask & vst::kVstTempoValid) {
        info.tempo = t.tempo;
        info.flags |= vst::kVstTempoValid;
    }
    if ((requestMask & vst::kVstBarsValid) && t.timeSigDenominator > 0) {
        const double quartersPerBar = t.timeSigNumerator * 4.0 / t.timeSigDenominator;
        info.barStartPos = std::floor(t.ppqPos / quartersPerBar) * quartersPerBar;
        info.flags |= vst::kVstBarsValid;
    }
    if (requestMask & vst::kVstTimeSigValid) {
        info.timeSigNumerator = t.timeSigNumerator;
        info.timeSigDenominator = t.timeSigDenominator;
        info.flags |= vst::kVstTimeSigValid;
    }
    // No loop cycle, SMPTE or MIDI clock: those flags stay clear.
    return reinterpret_cast<intptr_t>(&info);
}

// ---------------------------------------------------------------------------------------
// Plugin

std::unique_ptr<Plugin> Plugin::load(const std::string& path, const LoadOptions& options,
                                     std::string& error) {
    std::error_code ec;
    const auto status = std::filesystem::status(platform::fsPath(path), ec);
    if (!std::filesystem::exists(status)) {
        error = "plug-in file not found: " + path;
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = "plug-in path is not a file: " + path;
        return nullptr;
    }

    std::unique_ptr<PluginLibrary> library = PluginLibrary::open(path, error);
    if (!library) return nullptr;

    std::unique_ptr<Plugin> plugin(new Plugin);
    plugin->path_ = path;
    plugin->host_ = std::make_unique<HostContext>(options.identity);

    using Entry = vst::AEffect* (*)(vst::AudioMasterCallback);
    void* symbol = nullptr;
    for (const char* name : {"VSTPluginMain", "main"}) {
        symbol = library->symbol(name);
        if (symbol != nullptr) {
            plugin->entryName_ = name;
            break;
        }
    }
    if (symbol == nullptr) {
        error = path + " is not a VST 2.4 plug-in: it exports neither VSTPluginMain nor main";
        return nullptr;
    }

    HostContext* const outer = tLoadingHost;
    tLoadingHost = plugin->host_.get();
    vst::AEffect* effect = reinterpret_cast<Entry>(symbol)(&hostCallback);
    tLoadingHost = outer;

    if (effect == nullptr) {
        error = path + ": the plug-in's entry point returned no effect (it refused to start)";
        return nullptr;
    }
    if (effect->magic != vst::kEffectMagic) {
        // Not an AEffect we can talk to, so it cannot be closed either; just unload.
        char text[160];
        std::snprintf(text, sizeof text,
                      ": bad magic number 0x%08x in the returned effect (expected 0x%08x, 'VstP')",
                      static_cast<uint32_t>(effect->magic), static_cast<uint32_t>(vst::kEffectMagic));
        error = path + text;
        return nullptr;
    }
    effect->resvd1 = reinterpret_cast<intptr_t>(plugin->host_.get());
    plugin->library_ = std::move(library);
    plugin->effect_ = effect;
    if (options.open) plugin->open();
    return plugin;
}

Plugin::~Plugin() {
    if (effect_ != nullptr) {
        stop();
        dispatch(vst::effClose);  // the plug-in frees its instance here
        effect_ = nullptr;
    }
    library_.reset();
}

intptr_t Plugin::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void Plugin::open() {
    dispatch(vst::effOpen);
}

void Plugin::setSampleRate(double hz) {
    host_->setSampleRate(hz);
    dispatch(vst::effSetSampleRate, 0, 0, nullptr, static_cast<float>(hz));
}

void Plugin::setBlockSize(int32_t frames) {
    host_->setBlockSize(frames);
    dispatch(vst::effSetBlockSize, 0, frames);
}

void Plugin::resume() {
    dispatch(vst::effMainsChanged, 0, 1);
}
void Plugin::suspend() {
    dispatch(vst::effMainsChanged, 0, 0);
}
void Plugin::startProcess() {
    dispatch(vst::effStartProcess);
}
void Plugin::stopProcess() {
    dispatch(vst::effStopProcess);
}

void Plugin::start(double sampleRate, int32_t maxBlockSize) {
    stop();
    setSampleRate(sampleRate);
    setBlockSize(maxBlockSize);
    resume();
    startProcess();
    running_ = true;
}

void Plugin::stop() {
    if (!running_) return;
    stopProcess();
    suspend();
    running_ = false;
}

std::string Plugin::dispatchString(int32_t opcode, int32_t index) {
    // Far larger than any limit of the interface: real plug-ins overrun the official
    // 8-character parameter strings, and a zeroed buffer keeps a missing terminator
    // from reading past the end.
    char buffer[512] = {};
    dispatch(opcode, index, 0, buffer);
    return std::string(buffer, strnlen(buffer, sizeof buffer - 1));
}

std::string Plugin::effectName() {
    return dispatchString(vst::effGetEffectName);
}
std::string Plugin::vendorString() {
    return dispatchString(vst::effGetVendorString);
}
std::string Plugin::productString() {
    return dispatchString(vst::effGetProductString);
}
int32_t Plugin::vendorVersion() {
    return static_cast<int32_t>(dispatch(vst::effGetVendorVersion));
}
int32_t Plugin::category() {
    return static_cast<int32_t>(dispatch(vst::effGetPlugCategory));
}
int32_t Plugin::vstVersion() {
    return static_cast<int32_t>(dispatch(vst::effGetVstVersion));
}

int32_t Plugin::canDo(const std::string& what) {
    const intptr_t answer = dispatch(vst::effCanDo, 0, 0, const_cast<char*>(what.c_str()));
    return answer > 0 ? 1 : answer < 0 ? -1 : 0;
}

std::string Plugin::parameterName(int32_t index) {
    return dispatchString(vst::effGetParamName, index);
}
std::string Plugin::parameterLabel(int32_t index) {
    return dispatchString(vst::effGetParamLabel, index);
}
std::string Plugin::parameterDisplay(int32_t index) {
    return dispatchString(vst::effGetParamDisplay, index);
}
std::string Plugin::programName() {
    return dispatchString(vst::effGetProgramName);
}

std::optional<vst::VstParameterProperties> Plugin::parameterProperties(int32_t index) {
    vst::VstParameterProperties properties{};
    if (dispatch(vst::effGetParameterProperties, index, 0, &properties) == 0) return std::nullopt;
    return properties;
}

float Plugin::parameter(int32_t index) {
    return effect_->getParameter(effect_, index);
}
void Plugin::setParameter(int32_t index, float value) {
    effect_->setParameter(effect_, index, value);
}

std::vector<uint8_t> Plugin::getChunk(bool program) {
    void* data = nullptr;
    const intptr_t size = dispatch(vst::effGetChunk, program ? 1 : 0, 0, &data);
    if (size <= 0 || data == nullptr) return {};
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

intptr_t Plugin::setChunk(std::span<const uint8_t> data, bool program) {
    // The plug-in takes a non-const pointer but must not write through it; hand it a
    // private copy so a misbehaving one cannot alter the caller's bytes.
    std::vector<uint8_t> copy(data.begin(), data.end());
    return dispatch(vst::effSetChunk, program ? 1 : 0, static_cast<intptr_t>(copy.size()), copy.data());
}

intptr_t Plugin::processEvents(std::span<const MidiMessage> messages) {
    midiStorage_.assign(messages.size(), vst::VstMidiEvent{});
    for (std::size_t i = 0; i < messages.size(); ++i) {
        vst::VstMidiEvent& e = midiStorage_[i];
        e.type = vst::kVstMidiType;
        e.byteSize = sizeof(vst::VstMidiEvent);
        e.deltaFrames = messages[i].deltaFrames;
        for (std::size_t b = 0; b < 3; ++b) e.midiData[b] = static_cast<char>(messages[i].data[b]);
    }
    // VstEvents is a count, a reserved word and then as many pointers as there are
    // events; lay it out in pointer-sized words rather than index past its declared array.
    static_assert(offsetof(vst::VstEvents, events) == 2 * sizeof(uintptr_t));
    eventsRecord_.assign(2 + messages.size(), 0);
    const auto count = static_cast<int32_t>(messages.size());
    std::memcpy(eventsRecord_.data(), &count, sizeof count);
    for (std::size_t i = 0; i < messages.size(); ++i)
        eventsRecord_[2 + i] = reinterpret_cast<uintptr_t>(&midiStorage_[i]);
    return dispatch(vst::effProcessEvents, 0, 0, eventsRecord_.data());
}

void Plugin::process(float* const* inputs, float* const* outputs, int32_t frames) {
    auto** in = const_cast<float**>(inputs);
    auto** out = const_cast<float**>(outputs);
    if ((effect_->flags & vst::effFlagsCanReplacing) && effect_->processReplacing != nullptr) {
        effect_->processReplacing(effect_, in, out, frames);
        return;
    }
    for (int32_t c = 0; c < effect_->numOutputs; ++c) std::fill_n(out[c], frames, 0.0f);
    if (effect_->process != nullptr) effect_->process(effect_, in, out, frames);
}

std::string fourCharCode(int32_t id) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<unsigned char>((static_cast<uint32_t>(id) >> shift) & 0xFFu);
        text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return text;
}

}  // namespace kf::host
