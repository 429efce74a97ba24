// A block of values that one thread publishes whole and another reads whole, neither ever
// waiting: three slots, one the writer fills, one the reader holds and one between them,
// swapped by a single atomic exchange. The reader always gets the latest complete snapshot
// (never a mix of two), and the writer never allocates, locks or retries, so the audio thread
// can publish at every block.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace kf {

template <class T>
class SnapshotHandOver {
  public:
    // Writer only: the slot to fill before publish().
    T& back() { return slots_[back_]; }
    // Writer only: hands the filled slot over; the writer goes on in the slot given back.
    void publish() { back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kIndex; }

    // Reader only: takes the latest snapshot when one was published since the last take
    // (true); front() then holds it. False, front() unchanged, when nothing new came.
    bool take() {
        if ((middle_.load(std::memory_order_relaxed) & kFresh) == 0) return false;
        front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndex;
        return true;
    }
    // Reader only: the snapshot last taken (value-initialised before the first).
    const T& front() const { return slots_[front_]; }

  private:
    static constexpr uint8_t kIndex = 3, kFresh = 4;
    std::array<T, 3> slots_{};
    std::atomic<uint8_t> middle_{1};  // the slot between them, and whether it is unread
    uint8_t back_ = 0;                // the writer's
    uint8_t front_ = 2;               // the reader's
};

}  // namespace kf
