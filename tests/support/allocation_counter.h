#pragma once

#include <atomic>

namespace kf::test {

extern std::atomic<long> gAllocations;

// Counts the allocations made while it is alive.
class AllocationCounter {
  public:
    AllocationCounter() : start_(gAllocations.load()) {}
    long count() const { return gAllocations.load() - start_; }

  private:
    long start_;
};

}  // namespace kf::test
