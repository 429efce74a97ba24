#include "plugin/keyboard_notes.h"

#include <algorithm>

namespace kf {

namespace {

bool validNote(int32_t note) {
    return note >= 0 && note < KeyboardNotes::kNotes;
}

}  // namespace

void KeyboardNotes::push(int32_t note, int32_t velocity, bool on) {
    const uint32_t write = write_.load(std::memory_order_relaxed);
    events_[write % kCapacity] = {static_cast<uint8_t>(note),
                                  static_cast<uint8_t>(std::clamp(velocity, 0, 127)), on};
    write_.store(write + 1, std::memory_order_release);
    lastWrite_[static_cast<std::size_t>(note)] = write + 1;
    on_.set(static_cast<std::size_t>(note), on);
}

bool KeyboardNotes::postOn(int32_t note, int32_t velocity) {
    if (!validNote(note)) return false;
    // After this note-on (and the release of its earlier voice, if any) every note the
    // keyboard holds must still find room for its release.
    const uint32_t owed = static_cast<uint32_t>(on_.count());
    if (freeRoom() < owed + 2) return false;
    if (turnedOn(note)) push(note, velocity, false);
    push(note, velocity, true);
    return true;
}

bool KeyboardNotes::postOff(int32_t note, int32_t velocity) {
    if (!validNote(note)) return false;
    if (!turnedOn(note)) {
        const uint32_t owed = static_cast<uint32_t>(on_.count());
        if (freeRoom() < owed + 1) return false;
    }
    push(note, velocity, false);
    return true;
}

int KeyboardNotes::pending(int32_t note) const {
    if (!validNote(note)) return -1;
    const uint32_t last = lastWrite_[static_cast<std::size_t>(note)];
    const uint32_t applied = applied_.load(std::memory_order_acquire);
    // Waiting until the handled events include it (counts wrap, so compare the distance).
    if (last == 0 || static_cast<int32_t>(last - applied) <= 0) return -1;
    return on_.test(static_cast<std::size_t>(note)) ? 1 : 0;
}

}  // namespace kf
