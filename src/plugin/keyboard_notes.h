// The on-screen keyboard's notes on their way from the editor's thread to the audio thread: a
// bounded single-producer / single-consumer ring, drained at the start of a control block.
// Nothing is ever overwritten, and a release always finds room: a note-on is refused while
// the ring could no longer take the releases of the notes the keyboard has turned on.
#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>

namespace kf {

struct KeyboardNote {
    uint8_t note;
    uint8_t velocity;
    bool on;
};

class KeyboardNotes {
  public:
    static constexpr uint32_t kCapacity = 64;
    static constexpr int kNotes = 128;

    // Producer side (the editor's thread only).
    // Queues a note-on; a note the keyboard already holds is released first, so the keyboard
    // never stacks two voices of one note. False (nothing queued) for a note outside 0..127
    // or when the ring must keep its room for releases.
    bool postOn(int32_t note, int32_t velocity);
    // Queues a note-off. The release of a note the keyboard turned on always fits; that of a
    // note held by something else (host MIDI) only while the reserved room stays intact.
    bool postOff(int32_t note, int32_t velocity);
    // What the last event queued for `note` said while it has not yet taken effect on the
    // audio thread: 1 on, 0 off; -1 when nothing for it is waiting.
    int pending(int32_t note) const;
    // Notes whose last queued event was a note-on.
    bool turnedOn(int32_t note) const {
        return note >= 0 && note < kNotes && on_.test(static_cast<std::size_t>(note));
    }

    // Consumer side (the audio thread): hands every waiting event to `sink` in order. No
    // allocation, no lock, no wait.
    template <class Sink>
    void drain(Sink&& sink) noexcept {
        uint32_t read = read_.load(std::memory_order_relaxed);
        const uint32_t write = write_.load(std::memory_order_acquire);
        for (; read != write; ++read) sink(events_[read % kCapacity]);
        read_.store(read, std::memory_order_release);
    }
    // The events drained so far have been handled (they sit in the held notes now), so the
    // held-key mask tells their state from here on.
    void markApplied() noexcept {
        applied_.store(read_.load(std::memory_order_relaxed), std::memory_order_release);
    }

  private:
    uint32_t freeRoom() const {
        return kCapacity - (write_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire));
    }
    void push(int32_t note, int32_t velocity, bool on);

    std::array<KeyboardNote, kCapacity> events_{};
    // Free-running counts of events written and read; their difference is the fill level.
    std::atomic<uint32_t> write_{0};
    std::atomic<uint32_t> read_{0};
    std::atomic<uint32_t> applied_{0};  // read_ as of the last handling of the drained events

    // Producer-only bookkeeping.
    std::bitset<kNotes> on_;
    std::array<uint32_t, kNotes> lastWrite_{};  // write count just after each note's last event
};

}  // namespace kf
