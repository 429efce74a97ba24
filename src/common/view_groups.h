// The editor's view group mask: one bit per group of controls; a control is shown while
// its group's bit is set. The parameter model switches groups when modes change, and the
// mask outlives the editor window so a reopened window shows the right panels.
#pragma once

#include <atomic>
#include <cstdint>

namespace kf {

// The mode rules write the mask from whichever thread sets a mode (the user-interface thread,
// or the audio thread through MIDI learn) while the editor reads it at its idle: each word is
// a relaxed atomic, so a reader sees whole words and the compiler keeps no stale copy.
class ViewGroupMask {
  public:
    static constexpr int kBits = 128;

    ViewGroupMask() { set(0, true); }  // the top bar group is always present
    ViewGroupMask(const ViewGroupMask& other) { *this = other; }
    ViewGroupMask& operator=(const ViewGroupMask& other) {
        for (int i = 0; i < 4; ++i) setWord(i, other.word(i));
        return *this;
    }

    bool test(int bit) const { return (word(bit / 32) >> (bit % 32)) & 1u; }
    void set(int bit, bool on) {
        const uint32_t m = 1u << (bit % 32);
        const uint32_t w = word(bit / 32);
        setWord(bit / 32, on ? (w | m) : (w & ~m));
    }
    uint32_t word(int i) const { return words_[i].load(std::memory_order_relaxed); }
    void setWord(int i, uint32_t w) { words_[i].store(w, std::memory_order_relaxed); }

  private:
    std::atomic<uint32_t> words_[4] = {};
};

// Raised whenever the controls must be redrawn from the parameter values; the editor
// consumes it in its idle call. The request count lets tests see that a refresh happened.
class EditorRefresh {
  public:
    void request() {
        requests_.fetch_add(1, std::memory_order_relaxed);
        pending_.store(true, std::memory_order_release);
    }
    bool consume() { return pending_.exchange(false, std::memory_order_acq_rel); }
    uint32_t requests() const { return requests_.load(std::memory_order_relaxed); }

  private:
    std::atomic<bool> pending_{false};
    std::atomic<uint32_t> requests_{0};
};

}  // namespace kf
