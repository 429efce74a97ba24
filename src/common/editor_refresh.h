// Raised whenever the controls must be redrawn from the parameter values (a choice, a
// state load): set from any thread, consumed by the editor at its idle.
#pragma once

#include <atomic>
#include <cstdint>

namespace kf {

// The request count lets tests see that a refresh happened.
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
