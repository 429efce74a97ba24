#include "plugin/uniclient.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "common/effect.h"
#include "common/numeric.h"
#include "platform/desktop_message_service.h"
#include "platform/shell.h"
#include "state/settings_startup.h"

namespace kf {

namespace {

constexpr int32_t kHostPrograms = 128;
// Host time fields we need: tempo, musical position, transport state.
constexpr int32_t kTimeInfoRequest = 0x1E02;

// View groups that the mode choices switch; bit n of the mask's first word.
constexpr uint32_t bit(int n) {
    return 1u << n;
}
constexpr uint32_t kEffectGroups = bit(10) | bit(11) | bit(12) | bit(13) | bit(14);
constexpr uint32_t kCarrierGroups = bit(1) | bit(2) | bit(9);
constexpr uint32_t kModulatorGroups = bit(3) | bit(4) | bit(6) | bit(7) | bit(8) | bit(9);
constexpr int kOverlayBit = 5;  // panels follow the modes only while this is set
constexpr int kEditorBit = 0;   // set while the editor exists
constexpr int kSynthPanelBit = 3;

uint32_t groupPattern(int32_t tag, int32_t choice) {
    switch (tag) {
        case tag::effects_choice:
            return bit(10 + std::clamp(choice, 0, 4));
        case tag::carrier_mode:
            return choice == 3 ? bit(2) : bit(1);
        default:
            return choice == 2 ? bit(3) : bit(4);
    }
}

uint32_t governedGroups(int32_t tag) {
    switch (tag) {
        case tag::effects_choice:
            return kEffectGroups;
        case tag::carrier_mode:
            return kCarrierGroups;
        default:
            return kModulatorGroups;
    }
}

}  // namespace

TMUniClient::TMUniClient(vst::AudioMasterCallback master, PluginServices services)
    : TMPluginBase(master, kHostPrograms, kNumHostParameters),
      engine_(this),
      synth_(engine_.systemInfo()),
      carrier_(synth_, engine_.systemInfo(), noiseTable_),
      sampler_(engine_.systemInfo()),
      effects_(&engine_.systemInfo()),
      midi_(engine_.systemInfo(), *this),
      ownMessages_(services.messages ? nullptr : std::make_unique<platform::DesktopMessageService>()),
      ownDialogs_(services.dialogs ? nullptr : std::make_unique<platform::DesktopFileDialogs>()),
      messages_(services.messages ? services.messages : ownMessages_.get()),
      dialogs_(services.dialogs ? services.dialogs : ownDialogs_.get()) {
    effects_.reverb.setMessageService(messages_);
    fillNoiseTable();  // the synthesizer reads it from its first sample on
    // The parameters are registered by the set's constructor, in the table's order, and
    // the effects are constructed and configured as members.
    engine_.setEffects(&effects_.reverb, &effects_.delay, &effects_.phaser, &effects_.lofi);
    carrier_.registerHistory(engine_.stateRegistry());
    identifyHost();

    noTail(true);
    setUniqueID(vst::fourCC('t', 'm', 'k', 'f'));
    setNumInputs(2);
    setNumOutputs(2);
    canProcessReplacing(true);
    programsAreChunks(true);

    params_.wire();
    params_.byTag(tag::sampler)->linked = &sample_;
    setInitialValues();
    readSettings();
    programName_ = "default";

    synth_.updatePitches();
    synth_.updateGains();
    engine_.setSampleRate(sampleRate_);  // takes the rate over if valid, then runs the set-up

    loadDefaultPreset();
    setNumPrograms(0);
    programFloat_ = 0.0f;
}

TMUniClient::~TMUniClient() = default;

void TMUniClient::identifyHost() {
    char text[256] = {};
    getHostVendorString(text);
    text[sizeof text - 1] = 0;
    hostIsMaker_ = std::strcmp(text, kVendorName) == 0;
    getHostProductString(text);
    text[sizeof text - 1] = 0;
    hostIsAcid_ = std::strcmp(text, kAcidHostProduct) == 0;
}

void TMUniClient::fillNoiseTable() {
    // Park-Miller style generator in 32-bit arithmetic: the product wraps, the
    // remainder keeps the dividend's sign, so values cover -1 to 1.
    int32_t seed = 20537;
    for (float& value : noiseTable_) {
        const int32_t product = static_cast<int32_t>(static_cast<uint32_t>(seed) * 16807u);
        seed = product % 2147483647;
        value = static_cast<float>(seed) * 4.656612873077393e-10f;  // 2^-31
    }
}

void TMUniClient::setInitialValues() {
    auto init = [this](int32_t t, float v) { params_.record(t)->value = v; };
    init(tag::effects_choice, 0.08f);
    init(tag::in_a, 0.5f);
    init(tag::carrier_mode, 0.75f);
    init(tag::modulator_mode, 0.2222223f);
    init(tag::in_b, 0.5f);
    init(tag::synthoff, 0.5f);
    init(tag::watisndit, 0.0f);
    init(tag::transpose_up, 0.0f);
    init(tag::transpose_down, 0.0f);
    init(tag::pitchbend, 0.5f);
    init(tag::modwheel, 0.12f);
}

// ---- host interface ---------------------------------------------------------------

void TMUniClient::suspend() {
    engine_.stateRegistry().zeroAll();
}

void TMUniClient::resume() {
    callHost(vst::audioMasterWantMidi);
    engine_.clearOutputStage();
}

void TMUniClient::setSampleRate(float sampleRate) {
    sampleRate_ = sampleRate;
    engine_.setSampleRate(sampleRate);
}

void TMUniClient::processReplacing(float** inputs, float** outputs, int32_t frames) {
    // The noise runs on by one step per processed call, so repeated blocks never align.
    if (engine_.loadingFlag().load(std::memory_order_acquire) == 0) carrier_.advanceNoiseIndex();
    engine_.process(inputs, outputs, frames);
}

void TMUniClient::openManual() {
    std::string folder;
    if (!settings_.readText(setting::kInstallPath, folder) || folder.empty()) return;
    if (folder.back() != '/') folder += '/';
    platform::DesktopDocumentOpener().open(folder + "Manual/Manual.htm");
}

void TMUniClient::setProgram(int32_t program) {
    if (program == curProgram_) return;
    curProgram_ = program;
    programFloat_ = static_cast<float>(program);
}

void TMUniClient::getProgramName(char* name) {
    vst::copyBounded(name, "inside Plugin", kScratchBytes);
}

bool TMUniClient::getProgramNameIndexed(int32_t, int32_t, char*) {
    return true;
}

bool TMUniClient::getOutputProperties(int32_t, vst::VstPinProperties* props) {
    props->flags = vst::kVstPinIsActive | vst::kVstPinIsStereo;
    return hostIsAcid_;
}

bool TMUniClient::getEffectName(char* name) {
    vst::copyBounded(name, kProductName, kScratchBytes);
    return true;
}

bool TMUniClient::getProductString(char* text) {
    vst::copyBounded(text, kProductName, kScratchBytes);
    return true;
}

bool TMUniClient::getVendorString(char* text) {
    vst::copyBounded(text, kVendorName, kScratchBytes);
    return true;
}

int32_t TMUniClient::canDo(const char* text) {
    static constexpr struct {
        const char* text;
        int32_t answer;
    } kAnswers[] = {
        {"receiveVstEvents", 1}, {"receiveVstMidiEvent", 1}, {"sendVstMidiEvent", 0},
        {"sendVstEvent", 0},     {"receiveVstTimeInfo", 1},  {"hasAboutScreen", 0},
    };
    for (const auto& a : kAnswers)
        if (std::strcmp(text, a.text) == 0) return a.answer;
    return -1;
}

// ---- parameters: host side ----------------------------------------------------------

float TMUniClient::getParameter(int32_t index) {
    const TMParameter* p = params_.hostParameter(index);
    return (p && p->value) ? *p->value : 0.0f;
}

void TMUniClient::setParameterAutomated(int32_t index, float value) {
    if (index < 0 || index >= kNumHostParameters) return;
    setParameter(index, value);
    callHost(vst::audioMasterAutomate, index, 0, nullptr, value);
}

bool TMUniClient::beginEdit(int32_t index) {
    return index >= 0 && index < kNumHostParameters && TMPluginBase::beginEdit(index);
}

bool TMUniClient::endEdit(int32_t index) {
    return index >= 0 && index < kNumHostParameters && TMPluginBase::endEdit(index);
}

void TMUniClient::getParameterName(int32_t index, char* text) {
    const TMParameter* p = params_.hostParameter(index);
    std::snprintf(text, kScratchBytes, "%s", p ? p->name : "empty");
}

// Hosts show the label next to the value; it holds the name, as it always has.
void TMUniClient::getParameterLabel(int32_t index, char* label) {
    getParameterName(index, label);
}

void TMUniClient::getParameterDisplay(int32_t index, char* text) {
    const TMParameter* p = params_.hostParameter(index);
    if (!p) {
        std::snprintf(text, kScratchBytes, "empty");
        return;
    }
    std::snprintf(text, kScratchBytes, "%f %s", static_cast<double>(*p->value), p->label);
}

bool TMUniClient::getParameterProperties(int32_t index, vst::VstParameterProperties* props) {
    const TMParameter* p = params_.hostParameter(index);
    props->flags = 0;
    if (!p) {
        vst::copyBounded(props->label, "empty", sizeof props->label);
        return false;
    }
    vst::copyBounded(props->label, p->name, sizeof props->label);
    if (p->isSwitch()) props->flags |= vst::kVstParameterIsSwitch;
    return true;
}

// ---- parameters: values into the engine ----------------------------------------------

void TMUniClient::storeChoice(ParameterRecord& r, float scaled) {
    r.integer = truncToInt(scaled);
    r.scaled = static_cast<float>(r.integer);
}

void TMUniClient::setParameter(int32_t index, float v) {
    // A non-finite value would poison every recursive filter it reaches for good.
    if (!std::isfinite(v) || !hasEngineMapping(index)) return;
    ParameterRecord& r = *params_.record(index);
    r.value = v;
    auto scale = [&r](float scaled) {
        r.scaled = scaled;
        r.integer = truncToInt(scaled);
    };

    switch (index) {
        case tag::filtertype:
            storeChoice(r, std::min(3.0f * v, 2.0f));
            synth_.setFilterType(v);
            return;
        case tag::in1_gate:
        case tag::in2_gate: {
            const float g = std::trunc(v / 0.0001f) * 0.0001f;
            scale(g);
            inputStage(index == tag::in1_gate).setGate(v);
            return;
        }
        case tag::in1_comp_ratio:
        case tag::in2_comp_ratio:
            scale(v);
            inputStage(index == tag::in1_comp_ratio).setRatio(v);
            return;
        case tag::in1_comp_speed:
        case tag::in2_comp_speed:
            scale(180.0f - 160.0f * v);
            inputStage(index == tag::in1_comp_speed).setSpeed(v);
            return;
        case tag::in1_gain:
        case tag::in2_gain:
            scale(8.0f * v);
            inputStage(index == tag::in1_gain).setGain(v);
            return;
        case tag::focus:
            scale(0.1f + 1.9f * v);
            engine_.vocoder().setFocus(v);
            return;
        case tag::shift:
            scale(0.25f * v - 0.125f);
            engine_.vocoder().setShift(v);
            return;
        case tag::response:
            scale(120.0f - 110.0f * v);
            engine_.vocoder().setResponse(v);
            return;
        case tag::modwheel:
            scale(v);
            return;
        case tag::loop:
            storeChoice(r, std::min(2.0f * v, 1.0f));
            sampler_.setLoop(v);
            return;
        case tag::retrigger:
            storeChoice(r, std::min(4.0f * v, 3.0f));
            sampler_.setTrigger(v);
            return;
        case tag::waveform:
            synth_.setWaveform(v);
            scale(synth_.waveform());
            return;
        case tag::noise:
            scale(v);
            synth_.setNoise(v);
            return;
        case tag::octave:
            synth_.setOctave(v);
            scale(synth_.octave());
            return;
        case tag::pitchbend_range:
            synth_.setBendRange(v);
            scale(synth_.bendRange());
            return;
        case tag::pulswidth:
            scale(2.0f * v - 1.0f);
            synth_.setPulseWidth(v);
            return;
        case tag::cutoff:
            synth_.setCutoff(v);
            scale(synth_.cutoff());
            return;
        case tag::resonance:
            scale(0.9f * v);
            synth_.setResonance(v);
            return;
        case tag::synth_level:
            scale(v);
            synth_.setLevel(v);
            return;
        case tag::mix:
            r.scaled = std::clamp(v, 0.0f, 0.999f);
            r.integer = truncToInt(v);
            engine_.setMix(v);
            return;
        case tag::eq_low:
        case tag::eq_mid:
        case tag::eq_high: {
            scale(24.0f * v - 12.0f);
            MasterSection& m = engine_.master();
            if (index == tag::eq_low) m.setEqLow(v);
            if (index == tag::eq_mid) m.setEqMid(v);
            if (index == tag::eq_high) m.setEqHigh(v);
            return;
        }
        case tag::mastercomp:
            scale(4.0f * v);
            engine_.master().setCompAmount(v);
            return;
        case tag::compspeed:
            scale(200.0f - 170.0f * v);
            engine_.master().setCompSpeed(v);
            return;
        case tag::master_level:
            scale(4.0f * v);
            engine_.master().setLevel(v);
            return;
        case tag::reverb_room:
        case tag::reverb_damp:
        case tag::reverb_drywet:
        case tag::delay_feedback:
        case tag::delay_drywet:
        case tag::lofi_distortion:
            scale(v);
            effects_.setHostParameter(index, v);
            return;
        case tag::delaytime:
            scale(std::trunc((0.975f * v + 0.025f) / 0.025f) * 0.025f);
            effects_.setHostParameter(index, v);
            return;
        case tag::phaser_rate:
            scale(std::trunc(v / 0.025f) * 0.025f);
            effects_.setHostParameter(index, v);
            return;
        case tag::phaser_feedback:
            scale(0.9f * v);
            effects_.setHostParameter(index, v);
            return;
        case tag::phaser_stages:
            scale(v);
            effects_.setHostParameter(index, v);
            return;
        case tag::lofi_bitrate:
            scale(0.5f * v);
            effects_.setHostParameter(index, v);
            return;
        case tag::lofi_samplerate:
            scale(0.25f * v);
            effects_.setHostParameter(index, v);
            return;
        case tag::sampler_pitch:
            sampler_.setPitch(v);
            scale(sampler_.pitch());
            return;
        case tag::sampler_level:
            scale(v);
            sampler_.setLevel(v);
            return;
        case tag::effects_choice:
            storeChoice(r, std::min(5.0f * v + 0.001f, 4.0f));
            engine_.setEffectChoice(std::max(r.integer, 0));
            applyViewGroups(index);
            return;
        case tag::in_a:
            storeChoice(r, std::min(2.0f * v + 0.001f, 1.0f));
            engine_.setInA(r.integer == 1);
            refresh_.request();
            return;
        case tag::in_b:
            storeChoice(r, std::min(2.0f * v + 0.001f, 1.0f));
            engine_.setInB(r.integer == 1);
            refresh_.request();
            return;
        case tag::synthoff:
            storeChoice(r, std::min(2.0f * v + 0.001f, 1.0f));
            engine_.setSynthOn(r.integer == 1);
            refresh_.request();
            return;
        case tag::carrier_mode:
            storeChoice(r, std::min(4.0f * v + 0.001f, 3.0f));
            engine_.setCarrierMode(std::max(r.integer, 0));
            applyModeFlags(index);
            applyViewGroups(index);
            return;
        case tag::modulator_mode:
            storeChoice(r, std::min(3.0f * v + 0.001f, 2.0f));
            engine_.setModulatorMode(std::max(r.integer, 0));
            applyModeFlags(index);
            applyViewGroups(index);
            return;
        case tag::pitchbend:
            synth_.setBend(v);
            scale(synth_.bend());
            return;
        case tag::watisndit:
            storeChoice(r, std::min(2.0f * v + 0.001f, 1.0f));
            applyOverlayBit();
            return;
        case tag::transpose_up:
        case tag::transpose_down:
            storeChoice(r, std::min(2.0f * v, 1.0f));
            refresh_.request();
            return;
        case tag::list:
            storeChoice(r, std::min(2.0f * v, 1.0f));
            return;
        default:
            return;
    }
}

void TMUniClient::applyModeFlags(int32_t t) {
    if (t == tag::carrier_mode) {
        const float flag = params_.at(t).integer == 3 ? 1.0f : 0.0f;
        if (flag != carrierFlag_) {
            carrierFlag_ = flag;
            setParameter(tag::in_a, flag);
        }
    } else {
        const float flag = params_.at(t).integer == 2 ? 1.0f : 0.0f;
        if (flag != modulatorFlag_) {
            modulatorFlag_ = flag;
            setParameter(tag::synthoff, flag);
            setParameter(tag::in_b, flag);
        }
    }
}

void TMUniClient::applyViewGroups(int32_t t) {
    const uint32_t before = viewGroups_.word(0);
    const uint32_t governed = governedGroups(t);
    uint32_t after = before & ~governed;
    if (viewGroups_.test(kOverlayBit)) after |= groupPattern(t, params_.at(t).integer);
    viewGroups_.setWord(0, after);
    if ((before ^ after) & bit(kSynthPanelBit)) {
        setParameter(tag::in_b, params_.value(tag::in_b));
        setParameter(tag::synthoff, params_.value(tag::synthoff));
    }
    refresh_.request();
}

void TMUniClient::applyOverlayBit() {
    const bool editorBit = viewGroups_.test(kEditorBit);
    const bool overlay = viewGroups_.test(kOverlayBit);
    if (editorBit != overlay) {
        viewGroups_.set(kOverlayBit, editorBit);
        setParameter(tag::effects_choice, params_.value(tag::effects_choice));
        setParameter(tag::carrier_mode, params_.value(tag::carrier_mode));
        setParameter(tag::modulator_mode, params_.value(tag::modulator_mode));
    }
    refresh_.request();
}

// ---- engine host -------------------------------------------------------------------

bool TMUniClient::queryTime(HostTimeInfo& time) {
    const vst::VstTimeInfo* info = getTimeInfo(kTimeInfoRequest);
    if (!info) return false;
    time.tempo = info->tempo;
    time.ppqPosition = info->ppqPos;
    time.transportPlaying = (info->flags & vst::kVstTransportPlaying) != 0;
    time.alwaysPlayingHost = hostIsAcid_;
    return true;
}

void TMUniClient::resendParameter(int32_t t) {
    setParameter(t, params_.value(t));
}

void TMUniClient::refreshAfterSetup() {
    heldNotesChanged();
    midi_.reapplyWheelAndBend();
}

void TMUniClient::transportChanged(bool) {
    sampler_.updateTrigger();
}

void TMUniClient::heldNotesChanged() {
    // The intake keeps the held notes sorted; the four lowest are the voices.
    for (int v = 0; v < SynthControls::kVoices; ++v) {
        SynthVoice& voice = synth_.voice(v);
        voice.note = midi_.sortedNote(v);
        voice.velocityWeight = midi_.sortedVelocity(v);
    }
    synth_.updatePitches();
    synth_.updateGains();
    sampler_.setNoteView(midi_.sortedVelocity(0), midi_.sortedCount());
    sampler_.updateTrigger();
}

// ---- MIDI learn -----------------------------------------------------------------------

bool TMUniClient::holdAudioThread() {
    engine_.loadingFlag().store(1, std::memory_order_seq_cst);
    for (int waits = 0; engine_.processingFlag().load(std::memory_order_seq_cst) != 0; ++waits) {
        if (waits == 500) {
            engine_.loadingFlag().store(0, std::memory_order_release);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TMUniClient::releaseAudioThread() {
    engine_.loadingFlag().store(0, std::memory_order_release);
}

bool TMUniClient::assignController(int32_t tag, int controller, int16_t aux) {
    if (controller < 0 || controller >= MidiIntake::kControllers) return false;
    if (!holdAudioThread()) return false;
    midi_.setMapEditing(true);
    midi_.removeTag(tag);
    const bool added = midi_.appendPair(controller, tag, aux);
    midi_.setMapEditing(false);
    releaseAudioThread();
    return added;
}

}  // namespace kf
