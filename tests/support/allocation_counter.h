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

// Makes the n-th allocation from now on throw std::bad_alloc, once; 0 disarms.
void failNthAllocation(long n);

}  // namespace kf::test
