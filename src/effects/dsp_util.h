// Numerical safety and memory helpers shared by the insert effects: the anti-denormal
// offset, the input limit that keeps every recursion finite, and aligned buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace kf::fx {

// Added to inputs and to values written back into recursive state so that decaying
// feedback paths settle on a tiny offset instead of sinking into denormal numbers.
constexpr float kAntiDenormal = 1e-10f;
constexpr double kAntiDenormalD = 1e-10;

// Largest magnitude fed into any recursive path. The engine hands the effects at most a
// few units (its clip stage limits the level), so this never touches real audio; it
// bounds the worst-case gain of every feedback loop far below the float range, so no
// finite input can drive an effect to infinity. NaN inputs become 0 here, so a single
// bad sample cannot poison a delay line or a reverb for good.
constexpr float kInputLimit = 1.0e4f;

inline float limitInput(float x) {
    if (x >= -kInputLimit && x <= kInputLimit) return x;
    if (x > kInputLimit) return kInputLimit;
    if (x < -kInputLimit) return -kInputLimit;
    return 0.0f;  // NaN
}

// Zero for denormals (and zero), the value otherwise: the exponent bits decide.
inline float flushDenormal(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits & 0x7F800000u) == 0 ? 0.0f : x;
}

// A zero-filled float array on a 32-byte boundary (enough for SSE and AVX loads).
// Allocation happens only in the constructor, resize() and the move operations' owners.
class AlignedBuffer {
  public:
    static constexpr std::size_t kAlignment = 32;

    AlignedBuffer() = default;
    explicit AlignedBuffer(std::size_t count) { resize(count); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    ~AlignedBuffer() { release(); }

    // Replaces the contents by count zeros (allocates).
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
