#include "plugin/midi_intake.h"

#include <algorithm>
#include <thread>

#include "common/parameter_table.h"
#include "engine/held_notes.h"

namespace kf {

namespace {

// Tiny per-note offsets added to the velocity weight, so two notes of equal velocity
// never carry exactly the same weight.
constexpr std::array<float, 4> kVelocityOffsets = {1.2e-6f, 2.4e-6f, 3.6e-6f, 4.8e-6f};

// A host block is at most a few seconds; anything further out is a broken event.
constexpr int32_t kMaxDeltaFrames = 1 << 22;

constexpr const char* kControllerNames[MidiIntake::kControllers] = {
    "Banksel",      "Modulation",   "Breath",       "#3",           "Foot",         "Portamento", "DataEntry",
    "Volume",       "Balance",      "#9",           "Pan",          "Expression",   "GenPurp1",   "GenPurp2",
    "GenPurp3",     "GenPurp4",     "#16",          "#17",          "#18",          "#19",        "#20",
    "#21",          "#22",          "#23",          "#24",          "#25",          "#26",        "#27",
    "#28",          "#29",          "#30",          "#31",          "BankSelLSB",   "Mod LSB",    "BreathLSB",
    "FootLSB",      "PortaLSB",     "DataEntLSB",   "VolumeLSB",    "BalanceLSB",   "#40",        "Pan LSB",
    "Expr LSB",     "#43",          "#44",          "#45",          "#46",          "#47",        "#48",
    "#49",          "#50",          "#51",          "#52",          "#53",          "#54",        "#55",
    "#56",          "#57",          "#58",          "#59",          "#60",          "#61",        "#62",
    "#63",          "Sustain",      "Porta On/Off", "Sostenuto",    "Soft pedal",   "Legato fs",  "Hold 2",
    "Sound var",    "Harmonique",   "Release time", "Attack time",  "Cut-off",      "#75",        "#76",
    "#77",          "#78",          "#79",          "GenPurp5",     "GenPurp6",     "GenPurp7",   "GenPurp8",
    "Porta ",       "#85",          "#86",          "#87",          "#88",          "#89",        "#90",
    "ExtFx1 Depth", "ExtFx2 Depth", "ExtFx3 Depth", "ExtFx4 Depth", "ExtFx5 Depth", "Data inc",   "Data dec",
    "Nrpn LSB",     "Nrpn MSB",     "Rpn LSB",      "Rpn MSB",      "#102",         "#103",       "#104",
    "#105",         "#106",         "#107",         "#108",         "#109",         "#110",       "#111",
    "#112",         "#113",         "#114",         "#115",         "#116",         "#117",       "#118",
    "#119",         "AllSound off", "Reset ",       "Local ",       "AllNotes off", "Omni ON",    "Omni OFF",
    "Mono ON",      "Poly ON",
};

}  // namespace

MidiIntake::MidiIntake(TMSystemInfo& info, MidiTarget& target) : info_(info), target_(target) {
    for (auto& m : maps_) m.reserve(kMapCapacity);
}

const char* MidiIntake::controllerName(int c) {
    return (c >= 0 && c < kControllers) ? kControllerNames[c] : "";
}

// ---- intake ----------------------------------------------------------------------------

int32_t MidiIntake::processEvents(const vst::VstEvents* events) noexcept {
    if (!events) return 1;
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const vst::VstEvent* e = events->events[i];
        if (!e || e->type != vst::kVstMidiType) continue;
        const auto* m = reinterpret_cast<const vst::VstMidiEvent*>(e);
        queueMessage(static_cast<uint8_t>(m->midiData[0]), static_cast<uint8_t>(m->midiData[1]),
                     static_cast<uint8_t>(m->midiData[2]), m->deltaFrames);
    }
    return 1;
}

void MidiIntake::queueMessage(uint8_t status, uint8_t byte1, uint8_t byte2, int32_t deltaFrames) {
    // A data byte at or above 0x80 is not MIDI data (a status byte, or garbage): read as a
    // signed byte it would drive learned parameters negative and bends past -1, so a message
    // carrying one is ignored, whatever its kind. Channel pressure and program change carry
    // one data byte, the others two.
    const uint8_t kind4 = status & 0xF0;
    const bool oneByte = kind4 == 0xD0 || kind4 == 0xC0;
    if (byte1 > 0x7F || (!oneByte && byte2 > 0x7F)) return;
    const int32_t data1 = byte1;
    const int32_t data2 = oneByte ? 0 : byte2;
    const bool editing = mapEditing();
    int32_t kind;
    switch (kind4) {
        case 0x90:
            kind = data2 > 0 ? kMidiNoteOn : kMidiNoteOff;
            break;
        case 0x80:
            kind = kMidiNoteOff;
            break;
        case 0xB0:
            if (data1 == 123 && (status & 0x0F) == 0) {
                kind = kMidiAllNotesOff;
            } else {
                if (editing) return;
                kind = kMidiController;
            }
            break;
        case 0xE0:
            kind = kMidiPitchBend;
            break;
        case 0xD0:
            if (editing) return;
            kind = kMidiChannelPressure;
            break;
        case 0xC0:
            if (editing || ignorePrgChange_ != 0.0f) return;
            kind = kMidiProgramChange;
            break;
        default:
            return;
    }
    const int32_t at = std::clamp(deltaFrames, 0, kMaxDeltaFrames);
    if (queue_.insert(at, kind, data1, data2)) return;
    // The queue is full. A release must never be lost, so it is applied now (a queued
    // note-on of the same note is cancelled by it); anything else is dropped and counted.
    if (kind == kMidiNoteOff || kind == kMidiAllNotesOff)
        handle(MidiQueueEvent{0, kind, data1, data2});
    else
        ++dropped_;
}

void MidiIntake::sendKeyboardNotes() noexcept {
    keyboard_.drain(
        [this](const KeyboardNote& k) { queueMessage(k.on ? 0x90 : 0x80, k.note, k.velocity, 0); });
}

// ---- dispatch -------------------------------------------------------------------------

void MidiIntake::dispatch(int32_t interval) noexcept {
    queue_.dispatch(interval, [this](const MidiQueueEvent& e) { return handle(e); });
    // Keyboard notes are queued as due at once, so every one drained has now been handled.
    keyboard_.markApplied();
}

bool MidiIntake::handle(const MidiQueueEvent& e) {
    if (e.kind == kMidiController || e.kind == kMidiChannelPressure) {
        if (!enterMaps()) return false;
        if (e.kind == kMidiController)
            controller(e.data1, e.data2);
        else
            channelPressure(e.data1);
        leaveMaps();
        return true;
    }
    switch (e.kind) {
        case kMidiNoteOn:
            noteOn(e.data1, e.data2);
            break;
        case kMidiNoteOff:
            noteOff(e.data1);
            break;
        case kMidiAllNotesOff:
            allNotesOff();
            break;
        case kMidiPitchBend:
            pitchBend(e.data2);
            break;
        case kMidiProgramChange:
            program_ = static_cast<float>(e.data1);
            break;
        default:  // cancelled
            break;
    }
    return true;
}

// ---- notes ----------------------------------------------------------------------------

void MidiIntake::setKeyBit(int32_t note, bool held) {
    // The audio thread is the only writer, so a plain load and store (no read-modify-write)
    // keeps each word whole for the editor's reads.
    std::atomic<uint32_t>& word = keyMask_[static_cast<std::size_t>(note / 32)];
    const uint32_t bit = 1u << (note % 32);
    const uint32_t old = word.load(std::memory_order_relaxed);
    word.store(held ? old | bit : old & ~bit, std::memory_order_relaxed);
}

void MidiIntake::noteOn(int32_t note, int32_t velocityByte) {
    setKeyBit(note, true);
    const float velocity = static_cast<float>(velocityByte) / 128.0f + kVelocityOffsets[velocityCycle_];
    velocityCycle_ = (velocityCycle_ + 1) % 4;

    auto isFree = [this](int i) { return slots_[static_cast<std::size_t>(i)].velocity == 0.0f; };
    int chosen = writeIndex_;
    if (!isFree(chosen)) {
        int found = -1;
        for (int i = writeIndex_ + 1; i < kSlots && found < 0; ++i)
            if (isFree(i)) found = i;
        for (int i = 0; i < writeIndex_ && found < 0; ++i)
            if (isFree(i)) found = i;
        if (found >= 0) chosen = found;  // else the note at the write index is replaced
    }
    writeIndex_ = chosen;

    int occupied = 0;
    for (const NoteSlot& s : slots_) occupied += s.velocity != 0.0f;
    firstNote_ = occupied == 0 ? 1.0f : 0.0f;
    heldCount_ = static_cast<float>(occupied + 1);

    NoteSlot& slot = slots_[static_cast<std::size_t>(chosen)];
    slot.note = static_cast<float>(note);
    slot.frequency = info_.noteFrequency[note + 36];
    slot.velocity = velocity;
    info_.lastNote = slot.note;
    info_.lastVelocityWeight = velocity;

    writeIndex_ = (writeIndex_ + 1) % kSlots;
    rebuildSorted();
}

void MidiIntake::noteOff(int32_t note) {
    setKeyBit(note, false);
    const float n = static_cast<float>(note);
    auto held = std::find_if(slots_.begin(), slots_.end(),
                             [n](const NoteSlot& s) { return s.velocity != 0.0f && s.note == n; });
    if (held == slots_.end()) {
        queue_.cancelNoteOn(note);  // released before it was ever handled
        return;
    }
    held->velocity = 0.0f;
    heldCount_ = std::max(heldCount_ - 1.0f, 0.0f);
    firstNote_ = 0.0f;
    updateLastNoteAfterRelease();
    rebuildSorted();
}

void MidiIntake::updateLastNoteAfterRelease() {
    // The most recent still-held note: walk backward from the slot written last.
    for (int k = 1; k <= kSlots; ++k) {
        const NoteSlot& s = slots_[static_cast<std::size_t>((writeIndex_ - k + kSlots) % kSlots)];
        if (s.velocity != 0.0f) {
            info_.lastNote = s.note;
            info_.lastVelocityWeight = s.velocity;
            return;
        }
    }
    info_.lastVelocityWeight = 0.0f;
}

void MidiIntake::allNotesOff() {
    for (NoteSlot& s : slots_) s.velocity = 0.0f;
    info_.lastVelocityWeight = 0.0f;
    heldCount_ = 0.0f;
    writeIndex_ = 0;
    rebuildSorted();
}

void MidiIntake::rebuildSorted() {
    std::array<HeldNote, kSlots> held{}, sorted{};
    for (std::size_t i = 0; i < held.size(); ++i) held[i] = {slots_[i].note, slots_[i].velocity};
    sortedCount_ = sortHeldNotes(held, sorted);
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        sortedNote_[i] = sorted[i].note;
        sortedVelocity_[i] = sorted[i].weight;
    }
    target_.heldNotesChanged();
}

// ---- controllers, pressure, bend --------------------------------------------------------

void MidiIntake::learnInto(std::vector<LearnPair>& map) {
    const int32_t tag = learnTag_.load(std::memory_order_acquire);
    if (tag == kNoLearn) return;
    if (map.size() < map.capacity())  // never allocate on the audio thread
        map.push_back(LearnPair{static_cast<int16_t>(tag), learnAux_.load(std::memory_order_relaxed)});
    learnTag_.store(kNoLearn, std::memory_order_release);
}

void MidiIntake::controller(int32_t number, int32_t value) {
    if (mapEditing()) return;
    const float v = static_cast<float>(value) / 127.0f;
    controllers_[static_cast<std::size_t>(number)] = v;
    std::vector<LearnPair>& map = maps_[static_cast<std::size_t>(number)];
    learnInto(map);
    for (const LearnPair& p : map) target_.setParameter(p.tag, v);
    applyModwheelIfChanged();
}

void MidiIntake::channelPressure(int32_t value) {
    if (mapEditing()) return;
    std::vector<LearnPair>& map = maps_[kPressureMap];
    learnInto(map);
    const float v = static_cast<float>(value) / 127.0f;
    for (const LearnPair& p : map) target_.setParameter(p.tag, v);
}

void MidiIntake::pitchBend(int32_t msb) {
    // Only the most significant byte counts: 0 is -1, 64 is 0, 127 is +1.
    const float m = static_cast<float>(msb);
    info_.pitchBend = m < 64.0f ? (m - 64.0f) / 64.0f : (m - 64.0f) / 63.0f;
    applyBendIfChanged();
}

void MidiIntake::applyModwheelIfChanged() {
    const float wheel = controllers_[1];
    if (wheel == appliedModwheel_) return;
    appliedModwheel_ = wheel;
    target_.setParameter(tag::modwheel, wheel);
}

void MidiIntake::applyBendIfChanged() {
    const float bend = std::clamp((info_.pitchBend + 1.0f) / 2.0f, 0.0f, 1.0f);
    if (bend == appliedBend_) return;
    appliedBend_ = bend;
    target_.setParameter(tag::pitchbend, bend);
}

void MidiIntake::reapplyWheelAndBend() {
    applyModwheelIfChanged();
    applyBendIfChanged();
}

// ---- learn maps ------------------------------------------------------------------------

void MidiIntake::armLearn(int32_t tag, int16_t aux) {
    if (tag != kNoLearn && !isTag(tag)) return;  // no parameter has such a tag
    learnAux_.store(aux, std::memory_order_relaxed);
    learnTag_.store(tag, std::memory_order_release);
}

bool MidiIntake::enterMaps() {
    audioInMaps_.store(true, std::memory_order_seq_cst);
    if (mapUsers_.load(std::memory_order_seq_cst) == 0) return true;
    audioInMaps_.store(false, std::memory_order_release);
    return false;
}

MidiIntake::MapAccess::MapAccess(MidiIntake& m) : m_(m) {
    m_.mapUsers_.fetch_add(1, std::memory_order_seq_cst);
    // The audio thread stays in the maps only while it handles one event.
    while (m_.audioInMaps_.load(std::memory_order_seq_cst)) std::this_thread::yield();
}

MidiIntake::MapAccess::~MapAccess() {
    m_.mapUsers_.fetch_sub(1, std::memory_order_release);
}

void MidiIntake::removeTag(int32_t tag) {
    MapAccess access(*this);
    for (int c = 0; c < kControllers; ++c)
        std::erase_if(maps_[static_cast<std::size_t>(c)], [tag](const LearnPair& p) { return p.tag == tag; });
}

bool MidiIntake::appendPair(int controller, int32_t tag, int16_t aux) {
    if (controller < 0 || controller >= kMaps || !isTag(tag)) return false;
    MapAccess access(*this);
    auto& map = maps_[static_cast<std::size_t>(controller)];
    if (map.size() >= map.capacity()) return false;
    map.push_back(LearnPair{static_cast<int16_t>(tag), aux});
    return true;
}

void MidiIntake::copyMaps(std::array<std::vector<LearnPair>, kMaps>& out) {
    MapAccess access(*this);
    for (std::size_t i = 0; i < maps_.size(); ++i) out[i] = maps_[i];
}

void MidiIntake::replaceMaps(const std::array<std::vector<LearnPair>, kMaps>& maps) {
    MapAccess access(*this);
    for (std::size_t i = 0; i < maps_.size(); ++i) {
        maps_[i] = maps[i];
        maps_[i].reserve(std::max(kMapCapacity, maps_[i].size()));
    }
}

}  // namespace kf
