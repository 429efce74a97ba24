// Incoming MIDI waits in a time-ordered queue until the engine's next control-block
// boundary. Deltas are relative (each counts from the event before it), so the engine
// only ever counts down the head. The queue never allocates after construction.
#pragma once

#include <cstdint>
#include <vector>

namespace kf {

enum MidiKind : int32_t {
    kMidiCancelled = -1,
    kMidiNoteOn = 200,
    kMidiNoteOff = 201,
    kMidiAllNotesOff = 202,
    kMidiController = 203,
    kMidiPitchBend = 204,
    kMidiProgramChange = 205,
    kMidiChannelPressure = 206,
};

struct MidiQueueEvent {
    int32_t delta = 0;  // samples after the previous event (the head's: from now)
    int32_t kind = kMidiCancelled;
    int32_t data1 = 0;
    int32_t data2 = 0;
};

class MidiQueue {
  public:
    // Room for many blocks' worth of dense MIDI; beyond it the intake decides what to drop.
    static constexpr std::size_t kCapacity = 4096;

    MidiQueue() { events_.reserve(kCapacity); }

    bool full() const { return size() >= kCapacity; }
    std::size_t size() const { return events_.size() - head_; }
    const MidiQueueEvent& at(std::size_t i) const { return events_[head_ + i]; }

    // Inserts at time `frames` from now, after every event at the same time. False when full.
    bool insert(int32_t frames, int32_t kind, int32_t data1, int32_t data2);

    // Marks the first queued note-on of this note as cancelled; false if there is none.
    bool cancelNoteOn(int32_t note);

    // One control block passes: count the head down by `interval`, then take every due
    // event off the front and hand it to handle(event). A negative remainder is not
    // carried on to the next event. handle returns false to keep the event (and every
    // later one, so the order holds) for the next control block.
    template <typename Handle>
    void dispatch(int32_t interval, Handle&& handle) {
        if (size() == 0) return;
        events_[head_].delta -= interval;
        while (size() > 0 && events_[head_].delta <= 0) {
            const MidiQueueEvent e = events_[head_];
            if (!handle(e)) break;  // may cancel events still queued; never allocates
            ++head_;
        }
        if (head_ == events_.size()) clear();
    }

    void clear() {
        events_.clear();
        head_ = 0;
    }

  private:
    std::vector<MidiQueueEvent> events_;
    std::size_t head_ = 0;  // events before it are handled
};

}  // namespace kf
