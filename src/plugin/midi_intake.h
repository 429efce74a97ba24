// MIDI from the host and the on-screen keyboard: queued at intake, handled at control
// blocks on the audio thread. Holds the held-note state the synthesizer, the sampler and
// the keyboard view read, and the learn maps that let controllers drive parameters.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "common/parameter_table.h"
#include "common/system_info.h"
#include "engine/held_notes.h"
#include "plugin/keyboard_notes.h"
#include "plugin/midi_queue.h"
#include "vst/aeffect.h"

namespace kf {

struct NoteSlot {
    float note = 0.0f;
    float frequency = 0.0f;
    float velocity = 0.0f;  // 0: the slot is free
};

struct LearnPair {
    int16_t tag;
    int16_t aux;  // stored and saved with the pair; not used when applied
};

// What the intake asks of the instance while it handles events.
class MidiTarget {
  public:
    virtual ~MidiTarget() = default;
    virtual void setParameter(int32_t tag, float value) = 0;
    // The held notes changed: rebuild the synthesizer voices and the sampler trigger.
    virtual void heldNotesChanged() = 0;
};

class MidiIntake {
  public:
    static constexpr int kSlots = kHeldNoteSlots;
    static constexpr int kControllers = 128;
    static constexpr int kPressureMap = 128;  // index of the channel-pressure map
    static constexpr int kMaps = 129;
    // Each map's room, reserved up front so learning on the audio thread never allocates.
    static constexpr std::size_t kMapCapacity = 64;
    static constexpr int32_t kNoLearn = -1;

    MidiIntake(TMSystemInfo& info, MidiTarget& target);

    // Host intake: queues the MIDI events of the list; always answers 1.
    int32_t processEvents(const vst::VstEvents* events) noexcept;
    // Queues one raw MIDI message at deltaFrames (used for the on-screen keyboard too).
    void queueMessage(uint8_t status, uint8_t data1, uint8_t data2, int32_t deltaFrames);

    // Control block: hand every due event to the note and controller handling.
    void dispatch(int32_t interval) noexcept;

    // On-screen keyboard notes (editor's thread), queued at the start of the next block
    // (audio thread); see KeyboardNotes for what may be refused.
    bool postKeyboardNoteOn(int32_t note, int32_t velocity) { return keyboard_.postOn(note, velocity); }
    bool postKeyboardNoteOff(int32_t note, int32_t velocity) { return keyboard_.postOff(note, velocity); }
    const KeyboardNotes& keyboardNotes() const { return keyboard_; }
    void sendKeyboardNotes() noexcept;

    // Learn operations the editor calls (user-interface thread); arming kNoLearn disarms.
    void armLearn(int32_t tag, int16_t aux = 0);
    int32_t learnTarget() const { return learnTag_.load(std::memory_order_acquire); }
    // Map edits and copies from any thread but the audio thread. Each waits (briefly: one
    // event's handling) until the audio thread is out of the maps; meanwhile the audio thread
    // keeps its controller and pressure events queued for its next control block instead of
    // waiting, so it never blocks and no event is lost.
    // Removes every pair of this tag from the 128 controller maps (not channel pressure).
    void removeTag(int32_t tag);
    // Appends (tag, aux) to controller c's map; false if the map is full.
    bool appendPair(int controller, int32_t tag, int16_t aux);
    // Copies all maps (saving the state).
    void copyMaps(std::array<std::vector<LearnPair>, kMaps>& out);
    // Replaces all maps (state loading).
    void replaceMaps(const std::array<std::vector<LearnPair>, kMaps>& maps);

    // Direct view of one map: only while no other thread edits the maps (tests, loaders that
    // hold the audio thread off).
    const std::vector<LearnPair>& map(int index) const { return maps_[static_cast<std::size_t>(index)]; }
    bool mapEditing() const { return mapEdit_.load(std::memory_order_acquire); }
    void setMapEditing(bool on) { mapEdit_.store(on, std::memory_order_release); }

    void setIgnoreProgramChange(float v) { ignorePrgChange_ = v; }

    // Held-note state. The key mask is written by the audio thread and read by the editor's.
    bool keyHeld(int note) const { return (keyMaskWord(note / 32) >> (note % 32)) & 1u; }
    // Notes 32 × word … 32 × word + 31, one bit each.
    uint32_t keyMaskWord(int word) const {
        return keyMask_[static_cast<std::size_t>(word)].load(std::memory_order_relaxed);
    }
    const NoteSlot& slot(int i) const { return slots_[static_cast<std::size_t>(i)]; }
    const std::array<NoteSlot, kSlots>& slots() const { return slots_; }
    int32_t writeIndex() const { return writeIndex_; }
    float heldCount() const { return heldCount_; }
    float firstNote() const { return firstNote_; }
    int32_t sortedCount() const { return sortedCount_; }
    float sortedNote(int i) const { return sortedNote_[static_cast<std::size_t>(i)]; }
    float sortedVelocity(int i) const { return sortedVelocity_[static_cast<std::size_t>(i)]; }
    // All kSlots entries; those from sortedCount() on are zero.
    const float* sortedNotes() const { return sortedNote_.data(); }
    const float* sortedVelocities() const { return sortedVelocity_.data(); }
    float controllerValue(int c) const { return controllers_[static_cast<std::size_t>(c)]; }
    float programNumber() const { return program_; }
    std::size_t queuedEvents() const { return queue_.size(); }
    const MidiQueue& queue() const { return queue_; }
    // Events refused because the queue was full (note-offs are never among them).
    uint32_t droppedEvents() const { return dropped_; }

    // Applies controller 1 and pitch bend when they differ from what was last applied.
    void reapplyWheelAndBend();

    static const char* controllerName(int c);

  private:
    // Scoped access of a non-audio thread to the maps (see removeTag).
    class MapAccess {
      public:
        explicit MapAccess(MidiIntake& m);
        ~MapAccess();
        MapAccess(const MapAccess&) = delete;
        MapAccess& operator=(const MapAccess&) = delete;

      private:
        MidiIntake& m_;
    };
    // Audio thread: true when it may use the maps until leaveMaps(); false while another
    // thread holds them.
    bool enterMaps();
    void leaveMaps() { audioInMaps_.store(false, std::memory_order_release); }

    // False when the event must wait for the next control block.
    bool handle(const MidiQueueEvent& e);
    void setKeyBit(int32_t note, bool held);
    void noteOn(int32_t note, int32_t velocity);
    void noteOff(int32_t note);
    void allNotesOff();
    void controller(int32_t number, int32_t value);
    void channelPressure(int32_t value);
    void pitchBend(int32_t msb);
    void rebuildSorted();
    void applyModwheelIfChanged();
    void applyBendIfChanged();
    void updateLastNoteAfterRelease();
    void learnInto(std::vector<LearnPair>& map);

    TMSystemInfo& info_;
    MidiTarget& target_;
    MidiQueue queue_;

    std::array<std::atomic<uint32_t>, 4> keyMask_{};
    std::array<NoteSlot, kSlots> slots_{};
    int32_t writeIndex_ = 0;
    float heldCount_ = 0.0f;
    float firstNote_ = 0.0f;
    int32_t velocityCycle_ = 0;
    std::array<float, kSlots> sortedNote_{}, sortedVelocity_{};
    int32_t sortedCount_ = 0;

    std::array<float, kControllers> controllers_{};
    // What controller 1 and the bend last set; they start where the parameters start.
    float appliedModwheel_ = 0.0f;
    float appliedBend_ = 0.5f;
    float program_ = 0.0f;
    float ignorePrgChange_ = 1.0f;
    uint32_t dropped_ = 0;

    std::array<std::vector<LearnPair>, kMaps> maps_;
    std::atomic<int32_t> learnTag_{kNoLearn};
    std::atomic<int16_t> learnAux_{0};
    std::atomic<bool> mapEdit_{false};
    // The two sides of the map hand-shake: each announces itself, then looks at the other
    // (both sequentially consistent, so at most one side goes on).
    std::atomic<int32_t> mapUsers_{0};      // non-audio threads in the maps
    std::atomic<bool> audioInMaps_{false};  // the audio thread in the maps

    KeyboardNotes keyboard_;
};

}  // namespace kf
