#include "vst/audioeffect.h"

#include <algorithm>
#include <cstring>

namespace vst {

namespace {

// The host calls the functions below through the AEffect record, from C. No exception may
// cross that boundary: the dispatcher's work (chunks, presets, sample rates) allocates, and
// a failure there answers 0 and leaves the instance as the operation left it. The audio
// calls are noexcept all the way down, so they need no catch.

intptr_t dispatchEffect(AEffect* e, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                        float opt) noexcept {
    AudioEffect* effect = AudioEffect::fromAeffect(e);
    if (!effect) return 0;
    if (opcode == effClose) {
        try {
            effect->dispatcher(opcode, index, value, ptr, opt);
        } catch (...) {
            // The host lets go of the instance whatever happened; free it all the same.
        }
        delete effect;
        return 1;
    }
    try {
        return effect->dispatcher(opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;
    }
}

void processReplacingEffect(AEffect* e, float** inputs, float** outputs, int32_t frames) noexcept {
    if (AudioEffect* effect = AudioEffect::fromAeffect(e)) effect->processReplacing(inputs, outputs, frames);
}

// The deprecated accumulating call: render into scratch blocks and add them to the
// outputs. Only very old hosts use it; we never allocate for it.
void processAccumulatingEffect(AEffect* e, float** inputs, float** outputs, int32_t frames) noexcept {
    AudioEffect* effect = AudioEffect::fromAeffect(e);
    if (!effect || !outputs) return;
    constexpr int32_t kChunk = 256;
    const int32_t numIn = e->numInputs, numOut = std::min(e->numOutputs, 2);
    float scratch[2][kChunk];
    for (int32_t done = 0; done < frames;) {
        const int32_t n = std::min(kChunk, frames - done);
        float* in[8] = {};
        for (int32_t c = 0; c < numIn && c < 8; ++c) in[c] = inputs ? inputs[c] + done : nullptr;
        float* out[2] = {scratch[0], scratch[1]};
        effect->processReplacing(in, out, n);
        for (int32_t c = 0; c < numOut; ++c)
            for (int32_t i = 0; i < n; ++i) outputs[c][done + i] += scratch[c][i];
        done += n;
    }
}

void setParameterEffect(AEffect* e, int32_t index, float value) noexcept {
    try {
        if (AudioEffect* effect = AudioEffect::fromAeffect(e)) effect->setParameter(index, value);
    } catch (...) {
        // The value is not taken over; the parameter keeps its previous value.
    }
}

float getParameterEffect(AEffect* e, int32_t index) noexcept {
    try {
        AudioEffect* effect = AudioEffect::fromAeffect(e);
        return effect ? effect->getParameter(index) : 0.0f;
    } catch (...) {
        return 0.0f;
    }
}

// Writes a string answer produced in a scratch buffer into the host's buffer.
template <typename Fill>
intptr_t answerString(void* hostBuffer, std::size_t bound, Fill fill) {
    if (!hostBuffer) return 0;
    char scratch[AudioEffect::kScratchBytes] = {};
    const auto result = fill(scratch);
    scratch[sizeof scratch - 1] = 0;
    copyBounded(static_cast<char*>(hostBuffer), scratch, bound);
    return static_cast<intptr_t>(result);
}

}  // namespace

char* copyBounded(char* dst, const char* src, std::size_t dstBytes) {
    if (!dst || dstBytes == 0) return dst;
    std::size_t n = 0;
    if (src)
        while (n + 1 < dstBytes && src[n]) ++n;
    std::memcpy(dst, src ? src : "", n);
    dst[n] = 0;
    return dst;
}

AudioEffect::AudioEffect(AudioMasterCallback master, int32_t numPrograms, int32_t numParams)
    : audioMaster_(master), numPrograms_(numPrograms), numParams_(numParams) {
    cEffect_.magic = kEffectMagic;
    cEffect_.dispatcher = dispatchEffect;
    cEffect_.process = processAccumulatingEffect;
    cEffect_.setParameter = setParameterEffect;
    cEffect_.getParameter = getParameterEffect;
    cEffect_.numPrograms = numPrograms;
    cEffect_.numParams = numParams;
    cEffect_.numInputs = 1;
    cEffect_.numOutputs = 2;
    cEffect_.flags = effFlagsCanReplacing;
    cEffect_.ioRatio = 1.0f;
    cEffect_.object = this;
    cEffect_.uniqueID = fourCC('N', 'o', 'E', 'f');
    cEffect_.version = 1;
    cEffect_.processReplacing = processReplacingEffect;
}

AudioEffect::~AudioEffect() {
    delete editor_;
}

intptr_t AudioEffect::callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) const {
    if (!audioMaster_) return 0;
    // The record is only handed over once construction is done; during construction
    // we still pass it, as hosts key their answers on it (null is allowed too).
    return audioMaster_(const_cast<AEffect*>(&cEffect_), opcode, index, value, ptr, opt);
}

void AudioEffect::processReplacing(float** /*inputs*/, float** outputs, int32_t frames) noexcept {
    if (!outputs) return;
    for (int32_t c = 0; c < cEffect_.numOutputs; ++c)
        if (outputs[c]) std::fill(outputs[c], outputs[c] + std::max(frames, 0), 0.0f);
}

void AudioEffect::setParameterAutomated(int32_t index, float value) {
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::setEditor(AEffEditor* editor) {
    editor_ = editor;
    setFlag(effFlagsHasEditor, editor != nullptr);
}

void AudioEffect::setFlag(int32_t flag, bool on) {
    if (on)
        cEffect_.flags |= flag;
    else
        cEffect_.flags &= ~flag;
}

intptr_t AudioEffect::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    switch (opcode) {
        case effOpen:
            open();
            return 0;
        case effClose:
            close();
            return 0;
        case effSetProgram:
            if (value >= 0 && value < numPrograms_) setProgram(static_cast<int32_t>(value));
            return 0;
        case effGetProgram:
            return getProgram();
        case effSetProgramName:
            if (ptr) setProgramName(static_cast<const char*>(ptr));
            return 0;
        case effGetProgramName:
            return answerString(ptr, kMaxProgNameLen + 1, [&](char* s) {
                getProgramName(s);
                return 0;
            });
        case effGetParamLabel:
            return answerString(ptr, kParamStringBound, [&](char* s) {
                getParameterLabel(index, s);
                return 0;
            });
        case effGetParamDisplay:
            return answerString(ptr, kParamStringBound, [&](char* s) {
                getParameterDisplay(index, s);
                return 0;
            });
        case effGetParamName:
            return answerString(ptr, kParamStringBound, [&](char* s) {
                getParameterName(index, s);
                return 0;
            });
        case effSetSampleRate:
            setSampleRate(opt);
            return 0;
        case effSetBlockSize:
            setBlockSize(static_cast<int32_t>(value));
            return 0;
        case effMainsChanged:
            if (value)
                resume();
            else
                suspend();
            return 0;
        case effEditGetRect:
            return (editor_ && ptr) ? editor_->getRect(static_cast<ERect**>(ptr)) : 0;
        case effEditOpen:
            return editor_ ? editor_->open(ptr) : 0;
        case effEditClose:
            if (editor_) editor_->close();
            return 0;
        case effEditIdle:
            if (editor_) editor_->idle();
            return 0;
        case effGetChunk:
            return ptr ? getChunk(static_cast<void**>(ptr), index != 0) : 0;
        case effSetChunk:
            if (value < 0 || value > INT32_MAX) return 0;
            return setChunk(ptr, static_cast<int32_t>(value), index != 0);
        default:
            return 0;
    }
}

intptr_t AudioEffectX::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    switch (opcode) {
        case effProcessEvents:
            return ptr ? processEvents(static_cast<VstEvents*>(ptr)) : 0;
        case effCanBeAutomated:
            return canParameterBeAutomated(index) ? 1 : 0;
        case effString2Parameter:
            return string2parameter(index, static_cast<char*>(ptr)) ? 1 : 0;
        case effGetProgramNameIndexed:
            return answerString(ptr, kMaxProgNameLen + 1, [&](char* s) {
                return getProgramNameIndexed(static_cast<int32_t>(value), index, s) ? 1 : 0;
            });
        case effGetInputProperties:
            return ptr ? getInputProperties(index, static_cast<VstPinProperties*>(ptr)) : 0;
        case effGetOutputProperties:
            return ptr ? getOutputProperties(index, static_cast<VstPinProperties*>(ptr)) : 0;
        case effGetPlugCategory:
            return getPlugCategory();
        case effSetBypass:
            return setBypass(value != 0) ? 1 : 0;
        case effGetEffectName:
            return answerString(ptr, kMaxEffectNameLen + 1,
                                [&](char* s) { return getEffectName(s) ? 1 : 0; });
        case effGetVendorString:
            return answerString(ptr, kMaxVendorStrLen + 1,
                                [&](char* s) { return getVendorString(s) ? 1 : 0; });
        case effGetProductString:
            return answerString(ptr, kMaxProductStrLen + 1,
                                [&](char* s) { return getProductString(s) ? 1 : 0; });
        case effGetVendorVersion:
            return getVendorVersion();
        case effVendorSpecific:
            return vendorSpecific(index, value, ptr, opt);
        case effCanDo:
            return ptr ? canDo(static_cast<const char*>(ptr)) : 0;
        case effGetTailSize:
            return getTailSize();
        case effGetParameterProperties:
            return ptr ? getParameterProperties(index, static_cast<VstParameterProperties*>(ptr)) : 0;
        case effGetVstVersion:
            return getVstVersion();
        case effGetNumMidiInputChannels:
            return getNumMidiInputChannels();
        case effGetNumMidiOutputChannels:
            return getNumMidiOutputChannels();
        case effStartProcess:
            return startProcess();
        case effStopProcess:
            return stopProcess();
        case effSetProcessPrecision:
            return setProcessPrecision(static_cast<int32_t>(value)) ? 1 : 0;
        default:
            return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

}  // namespace vst
