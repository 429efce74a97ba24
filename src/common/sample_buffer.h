// The sampler's sample as playback sees it: 16-bit channel buffers with their markers and
// the hand-shake that keeps the audio thread off the buffers while they are replaced.
// Reading and writing sample files (and the state record) is the business of a derived
// class outside the audio code.
//
// In memory each channel holds frames + 1 samples: the frames, then a guard sample equal
// to the first, so interpolation may read one frame past the last. A mono sample has no
// right channel.
//
// Threads: install() runs on non-audio threads, serialised among themselves by the owner.
// The audio thread reads the buffers only between beginRead() and endRead().
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace kf {

class TMSampleBuffer {
  public:
    TMSampleBuffer() = default;
    virtual ~TMSampleBuffer() {
        delete[] left_.load(std::memory_order_relaxed);
        delete[] right_.load(std::memory_order_relaxed);
    }
    TMSampleBuffer(const TMSampleBuffer&) = delete;
    TMSampleBuffer& operator=(const TMSampleBuffer&) = delete;

    // --- audio thread ------------------------------------------------------------------------
    // Call before touching the buffers: false while a replacement is in progress (skip the
    // sample this time). On true the buffers stay valid until endRead().
    bool beginRead() {
        if (loading_.load(std::memory_order_acquire)) return false;
        // Announce first, then look again: with both sides using sequentially consistent
        // operations, either we see the loader's flag or it sees ours and waits.
        reading_.store(true, std::memory_order_seq_cst);
        if (loading_.load(std::memory_order_seq_cst)) {
            reading_.store(false, std::memory_order_release);
            return false;
        }
        return true;
    }
    void endRead() { reading_.store(false, std::memory_order_release); }
    bool loading() const { return loading_.load(std::memory_order_acquire); }

    // Buffers and length: stable between beginRead() and endRead(); elsewhere only a hint.
    const int16_t* left() const { return left_.load(std::memory_order_relaxed); }
    const int16_t* right() const { return right_.load(std::memory_order_relaxed); }  // null for mono
    int32_t frames() const { return frames_.load(std::memory_order_relaxed); }
    float framesFloat() const { return framesFloat_.load(std::memory_order_relaxed); }
    float sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }  // Hz

    // Written by playback for the waveform display (frames, fractional); -1 before any.
    float playbackPosition() const { return playbackPosition_.load(std::memory_order_relaxed); }
    void setPlaybackPosition(float frame) { playbackPosition_.store(frame, std::memory_order_relaxed); }

    // Markers in frames; set by playback, the editor and the state record.
    int32_t startMarker() const { return startMarker_.load(std::memory_order_relaxed); }
    int32_t endMarker() const { return endMarker_.load(std::memory_order_relaxed); }
    void setStartMarker(int32_t frame) { startMarker_.store(frame, std::memory_order_relaxed); }
    void setEndMarker(int32_t frame) { endMarker_.store(frame, std::memory_order_relaxed); }
    bool loop() const { return loop_.load(std::memory_order_relaxed); }
    void setLoop(bool on) { loop_.store(on, std::memory_order_relaxed); }

    // First rising zero crossing of the left channel; 0 when it has none.
    int32_t firstRise() const { return firstRise_.load(std::memory_order_relaxed); }

    // Counts the replacements of the buffers, so a display knows when what it drew from
    // them is out of date (markers and the play position are not counted).
    uint32_t generation() const { return generation_.load(std::memory_order_acquire); }

  protected:
    // Swaps in new buffers (owned from here on; null for none) under the hand-shake and frees
    // the old ones afterwards. Waits while playback is inside a read; never call it from the
    // audio thread.
    void install(int16_t* left, int16_t* right, int32_t frames, float sampleRate) {
        loading_.store(true, std::memory_order_seq_cst);
        while (reading_.load(std::memory_order_seq_cst))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        int16_t* oldLeft = left_.load(std::memory_order_relaxed);
        int16_t* oldRight = right_.load(std::memory_order_relaxed);
        left_.store(left, std::memory_order_relaxed);
        right_.store(right, std::memory_order_relaxed);
        frames_.store(frames, std::memory_order_relaxed);
        framesFloat_.store(static_cast<float>(frames), std::memory_order_relaxed);
        sampleRate_.store(sampleRate, std::memory_order_relaxed);
        loading_.store(false, std::memory_order_release);
        // Playback can no longer reach the old buffers: it saw the flag or had finished.
        delete[] oldLeft;
        delete[] oldRight;
        updateFirstRise();
        generation_.fetch_add(1, std::memory_order_acq_rel);
    }

  private:
    void updateFirstRise() {
        const int16_t* data = left_.load(std::memory_order_relaxed);
        const int32_t n = frames_.load(std::memory_order_relaxed);
        int32_t rise = 0;
        for (int32_t i = 1; data && i < n; ++i) {
            if (data[i - 1] * data[i] < 0 && data[i] > 0) {
                rise = i;
                break;
            }
        }
        firstRise_.store(rise, std::memory_order_relaxed);
    }

    std::atomic<int16_t*> left_{nullptr};
    std::atomic<int16_t*> right_{nullptr};
    std::atomic<float> playbackPosition_{-1.0f};
    std::atomic<int32_t> startMarker_{0};
    std::atomic<int32_t> endMarker_{0};
    std::atomic<int32_t> frames_{0};
    std::atomic<int32_t> firstRise_{0};
    std::atomic<float> framesFloat_{0.0f};
    std::atomic<float> sampleRate_{44100.0f};
    std::atomic<bool> loading_{false};
    std::atomic<bool> reading_{false};
    std::atomic<bool> loop_{false};
    std::atomic<uint32_t> generation_{0};
};

}  // namespace kf
