// The analysis bands' levels as the editor's band display shows them. Each control block the
// tap holds every band's follower envelope (the louder of the two analysis banks) and lets the
// held level fall at a fixed rate in decibels, so a short syllable stays visible until the
// editor's next idle; once per processed call it publishes the held levels whole. The audio
// thread only reads the vocoder's state here: the sound never depends on the display.
#pragma once

#include <xmmintrin.h>

#include <array>
#include <cmath>

#include "common/snapshot_hand_over.h"
#include "common/system_info.h"
#include "engine/vocoder_kernel.h"

namespace kf {

class BandLevelTap {
  public:
    using Levels = std::array<float, vocoder::kBands>;
    // How fast a held level falls once the band is quieter.
    static constexpr double kFallDbPerSecond = 60.0;

    // Set-up: the fall per control block at this sample rate.
    void setRate(float sampleRate) {
        fall_ = static_cast<float>(
            std::pow(10.0, -kFallDbPerSecond / 20.0 * kControlInterval / static_cast<double>(sampleRate)));
    }

    // Audio thread, each control block.
    void follow(const vocoder::State& s) {
        const __m128 fall = _mm_set1_ps(fall_);
        for (int k = 0; k < vocoder::kBands; k += 4) {
            const __m128 now = _mm_max_ps(_mm_load_ps(s.left.env + k), _mm_load_ps(s.right.env + k));
            _mm_store_ps(held_.data() + k, _mm_max_ps(_mm_mul_ps(_mm_load_ps(held_.data() + k), fall), now));
        }
    }
    // Audio thread, at the end of a processed call.
    void publish() {
        snapshots_.back() = held_;
        snapshots_.publish();
    }

    // The editor's thread: the levels published since its last call (true), else false and
    // `levels` untouched.
    bool take(Levels& levels) {
        if (!snapshots_.take()) return false;
        levels = snapshots_.front();
        return true;
    }

  private:
    alignas(16) Levels held_{};
    float fall_ = 1.0f;
    SnapshotHandOver<Levels> snapshots_;
};

}  // namespace kf
