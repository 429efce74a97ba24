// A minimal VST 2.4 plug-in written directly against the AEffect record, to test the
// host library against something whose every answer we know. Stereo gain:
//   out L = in L * 2 * Gain * Level(1),  out R = in R * 2 * Gain * Level(2)
// Parameters 1 and 2 share the name "Level" on purpose (hosts must cope with duplicates).
//
// When the environment names a file in FAKE_EVENT_LOG, the fake also writes there, for
// tests that run it inside another program, every MIDI event with its absolute frame
// ("event FRAME STATUS DATA1 DATA2") and every tempo the host reports that differs from
// the one before ("tempo FRAME BPM PPQ").
//
// FAKE_VARIANT selects how the library presents itself:
//   1 exports only VSTPluginMain      2 exports only main
//   3 returns a record with a bad magic number
//   4 exports no entry point          5 the entry point returns null
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "fake_plugin_log.h"

#ifndef FAKE_VARIANT
#define FAKE_VARIANT 1
#endif

namespace {

constexpr int kParams = 3;
constexpr const char* kParamNames[kParams] = {"Gain", "Level", "Level"};

struct FakeGain {
    vst::AEffect effect{};
    vst::AudioMasterCallback host = nullptr;
    float params[kParams] = {0.5f, 1.0f, 1.0f};
    fake::FakeLog log{};
    int32_t blockIndex = 0;     // the processing call the next events belong to
    long long streamFrame = 0;  // frames processed so far
    std::FILE* eventLog = nullptr;
    double loggedTempo = -1.0;
};

FakeGain* self(vst::AEffect* e) {
    return static_cast<FakeGain*>(e->object);
}

void copyString(void* ptr, const char* text) {
    std::snprintf(static_cast<char*>(ptr), 64, "%s", text);
}

void logOpcode(FakeGain* p, int32_t opcode) {
    if (p->log.numOpcodes < fake::kMaxOpcodes) p->log.opcodes[p->log.numOpcodes++] = opcode;
}

intptr_t dispatcher(vst::AEffect* e, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    FakeGain* p = self(e);
    if (opcode != vst::effVendorSpecific) logOpcode(p, opcode);
    switch (opcode) {
        case vst::effClose:
            if (p->eventLog != nullptr) std::fclose(p->eventLog);
            delete p;
            return 1;
        case vst::effGetParamName:
            if (index < 0 || index >= kParams) return 0;
            copyString(ptr, kParamNames[index]);
            return 1;
        case vst::effGetParamLabel:
            copyString(ptr, "x");
            return 1;
        case vst::effGetParamDisplay:
            if (index < 0 || index >= kParams) return 0;
            std::snprintf(static_cast<char*>(ptr), 16, "%.3f", p->params[index] * (index == 0 ? 2.0f : 1.0f));
            return 1;
        case vst::effGetEffectName:
        case vst::effGetProductString:
            copyString(ptr, "Fake Gain");
            return 1;
        case vst::effGetVendorString:
            copyString(ptr, "Test Bench Audio");
            return 1;
        case vst::effGetVendorVersion:
            return 42;
        case vst::effGetPlugCategory:
            return vst::kPlugCategEffect;
        case vst::effGetVstVersion:
            return vst::kVstVersion;
        case vst::effCanDo: {
            const char* what = static_cast<const char*>(ptr);
            if (std::strcmp(what, "receiveVstEvents") == 0 || std::strcmp(what, "receiveVstMidiEvent") == 0)
                return 1;
            if (std::strcmp(what, "bypass") == 0) return -1;
            return 0;
        }
        case vst::effGetChunk:
            *static_cast<void**>(ptr) = p->params;
            return sizeof p->params;
        case vst::effSetChunk:
            if (value != sizeof p->params) return 0;
            std::memcpy(p->params, ptr, sizeof p->params);
            return 1;
        case vst::effProcessEvents: {
            const auto* events = static_cast<const vst::VstEvents*>(ptr);
            for (int32_t i = 0; i < events->numEvents; ++i) {
                if (events->events[i]->type != vst::kVstMidiType) continue;
                const auto* midi = reinterpret_cast<const vst::VstMidiEvent*>(events->events[i]);
                const auto* data = reinterpret_cast<const uint8_t*>(midi->midiData);
                if (p->log.numEvents < fake::kMaxEvents)
                    p->log.events[p->log.numEvents++] = {
                        p->blockIndex, midi->deltaFrames, {data[0], data[1], data[2]}};
                if (p->eventLog != nullptr)
                    std::fprintf(p->eventLog, "event %lld %02x %02x %02x\n",
                                 p->streamFrame + midi->deltaFrames, data[0], data[1], data[2]);
            }
            return 1;
        }
        case vst::effVendorSpecific:
            if (index == fake::kGetLog) return reinterpret_cast<intptr_t>(&p->log);
            if (index == fake::kEdit) {
                p->host(e, vst::audioMasterBeginEdit, 0, 0, nullptr, 0.0f);
                p->params[0] = opt;
                p->host(e, vst::audioMasterAutomate, 0, 0, nullptr, opt);
                p->host(e, vst::audioMasterEndEdit, 0, 0, nullptr, 0.0f);
                static char payload[] = "payload";
                return p->host(e, vst::audioMasterVendorSpecific, 7, 9, payload, 0.25f);
            }
            return 0;
        default:
            return 0;
    }
}

void processReplacing(vst::AEffect* e, float** in, float** out, int32_t frames) {
    FakeGain* p = self(e);
    const auto* t = reinterpret_cast<const vst::VstTimeInfo*>(
        p->host(e, vst::audioMasterGetTime, 0, fake::kTimeRequest, nullptr, 0.0f));
    if (p->log.numBlocks < fake::kMaxBlocks) {
        const int32_t b = p->log.numBlocks++;
        p->log.blockFrames[b] = frames;
        if (t != nullptr)  // else the entry keeps present = false
            p->log.times[b] = {true,           t->samplePos, t->ppqPos,           t->tempo,
                               t->barStartPos, t->flags,     t->timeSigNumerator, t->timeSigDenominator};
    }
    p->log.processLevelInProcess = p->host(e, vst::audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f);
    if (p->eventLog != nullptr && t != nullptr && t->tempo != p->loggedTempo) {
        p->loggedTempo = t->tempo;
        std::fprintf(p->eventLog, "tempo %lld %.6f %.6f\n", p->streamFrame, t->tempo, t->ppqPos);
    }
    ++p->blockIndex;
    p->streamFrame += frames;
    const float gain = 2.0f * p->params[0];
    for (int32_t i = 0; i < frames; ++i) {
        out[0][i] = in[0][i] * gain * p->params[1];
        out[1][i] = in[1][i] * gain * p->params[2];
    }
}

void setParameter(vst::AEffect* e, int32_t index, float value) {
    if (index >= 0 && index < kParams) self(e)->params[index] = value;
}

float getParameter(vst::AEffect* e, int32_t index) {
    return index >= 0 && index < kParams ? self(e)->params[index] : 0.0f;
}

[[maybe_unused]] vst::AEffect* createFake(vst::AudioMasterCallback host) {
    // Like a real plug-in: ask for the host version before any effect exists.
    const intptr_t version = host(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f);
    if (version == 0 || FAKE_VARIANT == 5) return nullptr;
    auto* p = new (std::nothrow) FakeGain;
    if (p == nullptr) return nullptr;
    p->host = host;
    p->log.hostVersion = version;
    if (const char* path = std::getenv("FAKE_EVENT_LOG"); path != nullptr && *path != '\0')
        p->eventLog = std::fopen(path, "w");
    vst::AEffect& e = p->effect;
    e.magic = FAKE_VARIANT == 3 ? 0 : vst::kEffectMagic;
    e.dispatcher = dispatcher;
    e.setParameter = setParameter;
    e.getParameter = getParameter;
    e.processReplacing = processReplacing;
    e.numParams = kParams;
    e.numInputs = 2;
    e.numOutputs = 2;
    e.flags = vst::effFlagsCanReplacing | vst::effFlagsProgramChunks;
    e.object = p;
    e.uniqueID = vst::fourCC('f', 'k', 'g', 'n');
    e.version = 1;
    // The host identifies itself while we are being constructed, through a record it
    // has not seen yet (as the SDK's base class does).
    host(&e, vst::audioMasterGetVendorString, 0, 0, p->log.hostVendor, 0.0f);
    host(&e, vst::audioMasterGetProductString, 0, 0, p->log.hostProduct, 0.0f);
#if FAKE_VARIANT == 3
    // The host cannot close a record it rejects; free it here so leak checkers stay quiet.
    static vst::AEffect rejected;
    rejected = e;
    if (p->eventLog != nullptr) std::fclose(p->eventLog);
    delete p;
    return &rejected;
#else
    return &e;
#endif
}

}  // namespace

#if FAKE_VARIANT == 1 || FAKE_VARIANT == 3 || FAKE_VARIANT == 5
extern "C" __attribute__((visibility("default"))) vst::AEffect* VSTPluginMain(vst::AudioMasterCallback host) {
    return createFake(host);
}
#elif FAKE_VARIANT == 2
// C++ reserves the name main; an assembler label gives the exported symbol that name.
extern "C" __attribute__((visibility("default"))) vst::AEffect* fakeMainEntry(
    vst::AudioMasterCallback host) __asm__("main");
extern "C" vst::AEffect* fakeMainEntry(vst::AudioMasterCallback host) {
    return createFake(host);
}
#elif FAKE_VARIANT == 4
extern "C" __attribute__((visibility("default"))) int notAPluginEntry() {
    return 0;
}
#endif
