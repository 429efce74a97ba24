// The editor's view group mask: one bit per group of controls; a control is shown while
// its group's bit is set. The editor derives it from the routing and effect choices and the
// overlay state on its own thread, so it is a plain value.
#pragma once

#include <atomic>
#include <cstdint>

namespace kf {

class ViewGroupMask {
  public:
    static constexpr int kBits = 128;

    ViewGroupMask() { set(0, true); }  // the top bar group is always present

    bool test(int bit) const { return (words_[bit / 32] >> (bit % 32)) & 1u; }
    void set(int bit, bool on) {
        const uint32_t m = 1u << (bit % 32);
        words_[bit / 32] = on ? (words_[bit / 32] | m) : (words_[bit / 32] & ~m);
    }
    uint32_t word(int i) const { return words_[i]; }
    bool operator==(const ViewGroupMask&) const = default;

  private:
    uint32_t words_[4] = {};
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
