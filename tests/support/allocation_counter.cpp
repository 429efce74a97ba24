// Replaces the global allocation functions of this test program so a test can prove that
// a code path allocates nothing, or make one allocation fail. The array, nothrow and sized
// forms of the standard library forward to these; a program that exports them (CMake's
// ENABLE_EXPORTS) also serves the libraries it loads.
#include "allocation_counter.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace kf::test {
std::atomic<long> gAllocations{0};
namespace {
std::atomic<long> gFailCountdown{0};
}
void failNthAllocation(long n) {
    gFailCountdown.store(n);
}
}  // namespace kf::test

namespace {
void* allocate(std::size_t size) {
    kf::test::gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (kf::test::gFailCountdown.load(std::memory_order_relaxed) > 0 &&
        kf::test::gFailCountdown.fetch_sub(1) == 1)
        throw std::bad_alloc();
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}

// Over-aligned blocks by hand (not every C library has an aligned allocation that free()
// releases): room to align, and the block's own address kept just below the aligned one.
void* allocateAligned(std::size_t size, std::size_t alignment) {
    void* block = allocate(size + alignment + sizeof(void*));
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block) + sizeof(void*);
    void** aligned = reinterpret_cast<void**>((start + alignment - 1) & ~(alignment - 1));
    aligned[-1] = block;
    return aligned;
}

void releaseAligned(void* p) {
    if (p) std::free(static_cast<void**>(p)[-1]);
}
}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return allocateAligned(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    releaseAligned(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    releaseAligned(p);
}
