// How a parameter value reaches the audio thread when more than one thread may set it (the
// host's and the editor's threads, and the audio thread itself through learned controllers):
// the setter stores the value whole (relaxedStore) and marks its entry; the audio thread takes
// the marks at its next block and derives its working values from the latest values
// (relaxedLoad). Only the audio thread writes working values, so two threads setting at once
// can never leave one working value from the one and another from the other: the last value
// set wins and everything derived from it follows.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/relaxed_atomic.h"

namespace kf {

class ChangeMarks {
  public:
    static constexpr int kCapacity = 32;

    // Any thread, after storing entry i's new value (0 <= i < kCapacity).
    void mark(int i) { bits_.fetch_or(1u << i, std::memory_order_release); }
    // Audio thread: the entries marked since the last call, 0 when none (one plain load then).
    uint32_t take() {
        if (bits_.load(std::memory_order_relaxed) == 0) return 0;
        return bits_.exchange(0, std::memory_order_acquire);
    }
    static bool has(uint32_t marks, int i) { return ((marks >> i) & 1u) != 0; }

  private:
    std::atomic<uint32_t> bits_{0};
};

// N normalised values handed over together: set on any thread, taken by the audio thread.
template <std::size_t N>
class HandedOverValues {
    static_assert(N <= ChangeMarks::kCapacity);

  public:
    void set(int i, float v) {
        relaxedStore(values_[static_cast<std::size_t>(i)], v);
        marks_.mark(i);
    }
    float value(int i) const { return relaxedLoad(values_[static_cast<std::size_t>(i)]); }
    // Audio thread: which values were set since the last call (see ChangeMarks::take).
    uint32_t take() { return marks_.take(); }

  private:
    std::array<float, N> values_{};
    ChangeMarks marks_;
};

}  // namespace kf
