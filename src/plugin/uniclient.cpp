#include "plugin/uniclient.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "common/effect.h"
#include "common/numeric.h"
#include "platform/shell.h"
#include "state/settings_startup.h"

namespace kf {

namespace {

constexpr int32_t kHostPrograms = 128;
// Host time fields we need: tempo, musical position, transport state.
constexpr int32_t kTimeInfoRequest = 0x1E02;

}  // namespace

TMUniClient::TMUniClient(vst::AudioMasterCallback master, PluginServices services)
    : TMPluginBase(master, kHostPrograms, kNumHostParameters),
      engine_(this, &sample_),
      effects_(&engine_.systemInfo()),
      model_(engine_, effects_),
      midi_(engine_.systemInfo(), *this),
      ownMessages_(services.messages ? nullptr : platform::makeDesktopMessageService()),
      ownDialogs_(services.dialogs ? nullptr : platform::makeDesktopFileDialogs()),
      messages_(services.messages ? *services.messages : *ownMessages_),
      dialogs_(services.dialogs ? services.dialogs : ownDialogs_.get()),
      builtInDefaultPreset_(services.builtInDefaultPreset) {
    // The parameters are registered and wired by the model, in the table's order, and the
    // effects are constructed and configured as members.
    engine_.setEffects(&effects_.reverb, &effects_.delay, &effects_.phaser, &effects_.lofi);
    identifyHost();

    noTail(true);
    setUniqueID(vst::fourCC('t', 'm', 'k', 'f'));
    setNumInputs(2);
    setNumOutputs(2);
    canProcessReplacing(true);
    programsAreChunks(true);

    model_.parameters().byTag(tag::sampler)->linked = &sample_;
    model_.setInitialValues();
    readSettings();
    programName_ = "default";
    // Touches no display: the window is made at the first open.
    std::unique_ptr<EditorAdapter> adapter = editorLink_.createEditor(services.dialogs);
    editorAdapter_ = adapter.get();
    setEditor(adapter.release());

    engine_.setSampleRate(sampleRate_);  // takes the rate over if valid, then runs the set-up

    loadDefaultPreset();
    editorLink_.captureDefaults();
    setNumPrograms(0);
    programFloat_ = 0.0f;
}

// The editor goes first: closing it may still reach the parameters through the link.
TMUniClient::~TMUniClient() {
    vst::AEffEditor* editor = getEditor();
    setEditor(nullptr);
    editorAdapter_ = nullptr;
    delete editor;
}

void TMUniClient::identifyHost() {
    char text[256] = {};
    getHostVendorString(text);
    text[sizeof text - 1] = 0;
    hostIsMaker_ = std::strcmp(text, kVendorName) == 0;
    getHostProductString(text);
    text[sizeof text - 1] = 0;
    hostIsAcid_ = std::strcmp(text, kAcidHostProduct) == 0;
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
    // The host's call has no failure answer, so a rate whose memory cannot be had is refused
    // as a whole: the instance plays on at its rate, the next call may succeed, and the
    // host's log says why.
    try {
        engine_.setSampleRate(sampleRate);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "Kestrafone: not enough memory to run at %g Hz; going on at %g Hz\n",
                     static_cast<double>(sampleRate), static_cast<double>(engine_.systemInfo().sampleRate));
        return;
    }
    sampleRate_ = sampleRate;
}

void TMUniClient::processReplacing(float** inputs, float** outputs, int32_t frames) noexcept {
    engine_.process(inputs, outputs, frames);
}

void TMUniClient::openManual() {
    // This instance's own bundle: the stored install path names the last one started.
    if (const std::string manual = manualPathOfThisModule(); !manual.empty())
        platform::DesktopDocumentOpener().open(manual);
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
    const TMParameter* p = model_.parameters().hostParameter(index);
    return (p && p->value) ? relaxedLoad(*p->value) : 0.0f;
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
    const TMParameter* p = model_.parameters().hostParameter(index);
    std::snprintf(text, kScratchBytes, "%s", p ? p->name : "empty");
}

// Hosts show the label next to the value; it holds the name, as it always has.
void TMUniClient::getParameterLabel(int32_t index, char* label) {
    getParameterName(index, label);
}

void TMUniClient::getParameterDisplay(int32_t index, char* text) {
    const TMParameter* p = model_.parameters().hostParameter(index);
    if (!p) {
        std::snprintf(text, kScratchBytes, "empty");
        return;
    }
    std::snprintf(text, kScratchBytes, "%f %s", static_cast<double>(relaxedLoad(*p->value)), p->label);
}

bool TMUniClient::getParameterProperties(int32_t index, vst::VstParameterProperties* props) {
    const TMParameter* p = model_.parameters().hostParameter(index);
    props->flags = 0;
    if (!p) {
        vst::copyBounded(props->label, "empty", sizeof props->label);
        return false;
    }
    vst::copyBounded(props->label, p->name, sizeof props->label);
    if (p->isSwitch()) props->flags |= vst::kVstParameterIsSwitch;
    return true;
}

// The host's indices and the internal tags share this call: a host index of an added
// parameter names its tag, every other number is a tag as it always was.
void TMUniClient::setParameter(int32_t index, float v) {
    model_.set(tagOfHostIndex(index), v);
}

// ---- engine host -------------------------------------------------------------------

bool TMUniClient::beginBlock(HostTimeInfo& time) {
    midi_.sendKeyboardNotes();
    const vst::VstTimeInfo* info = getTimeInfo(kTimeInfoRequest);
    if (!info) return false;
    time.tempo = info->tempo;
    time.ppqPosition = info->ppqPos;
    time.transportPlaying = (info->flags & vst::kVstTransportPlaying) != 0;
    time.alwaysPlayingHost = hostIsAcid_;
    return true;
}

void TMUniClient::afterSetup() {
    heldNotesChanged();
    midi_.reapplyWheelAndBend();
}

void TMUniClient::heldNotesChanged() {
    engine_.setHeldNotes(midi_.sortedNotes(), midi_.sortedVelocities(), midi_.sortedCount());
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
    engine_.assertAudioHeldOut();
    return true;
}

void TMUniClient::releaseAudioThread() {
    engine_.assertAudioHeldOut();
    engine_.loadingFlag().store(0, std::memory_order_release);
}

bool TMUniClient::holdForMapEdit() {
    if (holdAudioThread()) {
        midi_.setMapEditing(true);
        return true;
    }
    showMessage(
        "%s could not change the MIDI controller assignments while the audio was busy; "
        "nothing was changed. Please try again.");
    return false;
}

void TMUniClient::releaseAfterMapEdit() {
    midi_.setMapEditing(false);
    releaseAudioThread();
}

bool TMUniClient::clearLearn(int32_t tag) {
    if (!holdForMapEdit()) return false;
    midi_.removeTag(tag);
    releaseAfterMapEdit();
    return true;
}

bool TMUniClient::assignController(int32_t tag, int controller, int16_t aux) {
    if (controller < 0 || controller >= MidiIntake::kControllers) return false;
    if (!holdForMapEdit()) return false;
    midi_.removeTag(tag);
    const bool added = midi_.appendPair(controller, tag, aux);
    releaseAfterMapEdit();
    return added;
}

}  // namespace kf
