// Memory helpers shared by the insert effects; the anti-denormal offsets and the input limit
// live with the rest of the audio path's numerical safety (common/fp_safety.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "common/fp_safety.h"

namespace kf::fx {

// A zero-filled float array on a 32-byte boundary (enough for SSE and AVX loads).
// Allocation happens only in the constructor and resize(); swap() never allocates, so a
// buffer made aside can replace one in use without a moment in which neither is whole.
class AlignedBuffer {
  public:
    static constexpr std::size_t kAlignment = 32;

    AlignedBuffer() = default;
    explicit AlignedBuffer(std::size_t count) { resize(count); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    ~AlignedBuffer() { release(); }

    // Replaces the contents by count zeros (allocates; 0 frees).
    void resize(std::size_t count) {
        release();
        if (count == 0) return;
        data_ = static_cast<float*>(::operator new (count * sizeof(float), std::align_val_t{kAlignment}));
        size_ = count;
        clear();
    }
    void clear() {
        if (data_) std::memset(data_, 0, size_ * sizeof(float));
    }
    void swap(AlignedBuffer& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
    }

    float* data() { return data_; }
    const float* data() const { return data_; }
    std::size_t size() const { return size_; }
    uint32_t bytes() const { return static_cast<uint32_t>(size_ * sizeof(float)); }
    float& operator[](std::size_t i) { return data_[i]; }
    float operator[](std::size_t i) const { return data_[i]; }

  private:
    void release() {
        if (data_) ::operator delete (data_, std::align_val_t{kAlignment});
        data_ = nullptr;
        size_ = 0;
    }

    float* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace kf::fx
