#include "engine/sample_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kf {

namespace {

// 16-bit sample values to the -1..1 range: 1/32768, exact in single precision, so a level
// of 32768 reproduces the stored values.
constexpr float kSampleScale = 3.0517578e-05f;

// The fastest rate honoured. Real samples stay far below it (+24 semitones of a 1 MHz file
// at 11050 Hz is about 362); an assigned rate of infinity is held here so that positions
// stay finite and every index computed from them fits 32 bits.
constexpr float kMaxRate = 4096.0f;

// Lane k of a run sits k steps after the run's first position.
constexpr auto kLanes = [] {
    std::array<double, TMSampleReader::kBlock> lanes{};
    for (int32_t k = 0; k < TMSampleReader::kBlock; ++k)
        lanes[static_cast<std::size_t>(k)] = static_cast<double>(k);
    return lanes;
}();

// Whole steps of `rate` that fit in `distance`, limited to 0..n (NaN as 0). A zero rate
// divides to infinity, which is limited to n.
int32_t stepsWithin(double distance, float rate, int32_t n) {
    const double steps = distance / static_cast<double>(rate);
    if (!(steps > 0.0)) return 0;
    return steps < static_cast<double>(n) ? static_cast<int32_t>(steps) : n;
}

}  // namespace

TMSampleReader::TMSampleReader(const TMSystemInfo& info, TMSampleBuffer& sample)
    : info_(info), sample_(sample) {}

void TMSampleReader::refill(const Controls& controls, float* left, float* right) {
    controlBlock(controls);
    std::memcpy(left, left_, sizeof left_);
    std::memcpy(right, right_, sizeof right_);
}

void TMSampleReader::controlBlock(const Controls& controls) {
    // While the sample is being replaced nothing of it may be read: not the buffers, and not
    // the length or rate, which change with them.
    const bool reading = sample_.beginRead();
    View view{nullptr, nullptr, 0};
    if (reading) view = {sample_.left(), sample_.right(), sample_.frames()};
    const bool usable = view.left != nullptr && view.frames > 0;

    const bool changed = controls.trigger != previousTrigger_;
    previousTrigger_ = controls.trigger;
    const bool rise = changed && controls.trigger != 0.0f;
    if (rise) loopCount_ = controls.loopCount;

    if (usable) takeMarkers(view);
    level_ = controls.gain;

    if (rise && usable) {
        position_ = loopStart_;
        playing_ = true;
        ended_ = false;  // a restart right after the end must not be taken for that end
        loopsRemaining_ = loopCount_;
        // The rate is taken at the start too, so the first block already plays at the pitch
        // and sample rate in force.
        updateRate(controls.pitch);
        const int32_t offset = std::clamp(info_.controlCounter, 0, kBlock);
        zero(0, offset);
        render(view, kBlock - offset, offset);
    } else if (playing_ && reading && !rise) {
        // A fall of the trigger does not stop playback: the sample goes on at the new gain.
        updateRate(controls.pitch);
        render(view, kBlock, 0);
    } else {
        // Nothing plays (or a rise found no usable sample, or the sample is being replaced):
        // silence, never a repeat of the last block.
        zero(0, kBlock);
    }

    if (reading) sample_.endRead();
}

void TMSampleReader::takeMarkers(const View& view) {
    // Markers come from the state, the editor and loads on other threads: anything that does
    // not fit this sample means the whole of it.
    int32_t end = sample_.endMarker();
    int32_t start = sample_.startMarker();
    if (end <= 0 || end > view.frames) end = view.frames;
    if (start < 0 || start >= end) start = 0;
    loopStart_ = static_cast<double>(start);
    loopEnd_ = static_cast<double>(end);
}

void TMSampleReader::updateRate(float pitch) {
    pitch_ = pitch;
    const float rate = info_.ratioOfSemitones(pitch) * (sample_.sampleRate() / info_.sampleRate);
    rate_ = rate >= 0.0f ? std::min(rate, kMaxRate) : 0.0f;  // NaN too
}

void TMSampleReader::render(const View& view, int32_t n, int32_t o) {
    if (ended_ || view.left == nullptr || view.frames <= 0) {
        zero(0, kBlock);
        playing_ = false;
        ended_ = false;
        return;
    }

    const auto length = static_cast<double>(view.frames);
    const auto rate = static_cast<double>(rate_);
    // A sample replaced by a shorter one restarts from its beginning.
    if (!(position_ <= length)) position_ = 0.0;
    // Loop points may have been set for a longer sample; they never reach past this one.
    const double loopEnd = loopEnd_ > 0.0 ? std::min(loopEnd_, length) : length;
    const double loopStart = loopStart_ >= 0.0 && loopStart_ < loopEnd ? loopStart_ : 0.0;
    const bool forever = loopCount_ == -1;

    // Every pass renders at least one frame, ends playback, or jumps back to the loop start
    // (or counts down the last pass) without rendering, and such a pass is always followed
    // by one that renders or ends: the loop is bounded by the frames it has to fill.
    bool jumped = false;
    while (n > 0) {
        const double end = position_ + static_cast<double>(n) * rate;
        int32_t m;
        if (end < loopEnd) {
            m = n;
        } else if (loopsRemaining_ < 1 && !forever) {
            // No more looping: play on to the end of the sample, not to the loop end.
            if (end < length) {
                m = n;
            } else if (length <= position_ + rate) {
                position_ = 0.0;
                zero(o, n);
                ended_ = true;
                return;
            } else {
                // At least one step fits before the end; rounding must not stall the loop.
                m = std::max(stepsWithin(length - position_, rate_, n), 1);
            }
        } else if (position_ < loopEnd) {
            m = stepsWithin(loopEnd - position_, rate_, n);
            if (m == 0) {
                if (!jumped) {
                    position_ = loopStart;
                    jumped = true;
                    continue;
                }
                // A loop shorter than one step: play its first frame instead of spinning.
                m = 1;
            }
        } else {
            // A loop that runs for ever never counts its passes (the count would overflow).
            if (!forever) --loopsRemaining_;
            // After the last pass the branch above plays on to the end of the sample.
            if (loopsRemaining_ < 1 && !forever) continue;
            position_ = loopStart;
            jumped = true;
            continue;
        }
        renderRun(view, m, o);
        position_ += static_cast<double>(m) * rate;
        o += m;
        n -= m;
        jumped = false;
    }
    sample_.setPlaybackPosition(static_cast<float>(position_));
}

void TMSampleReader::renderRun(const View& view, int32_t m, int32_t o) {
    // Positions, indices and fractions for all 32 lanes (a fixed count the compiler turns
    // into vector code); only the first m are fetched and kept. Positions stay below 2^31
    // (frames <= 2^27, rate <= 4096), so the conversion is defined.
    for (int32_t k = 0; k < kBlock; ++k) {
        const double q = position_ + kLanes[static_cast<std::size_t>(k)] * static_cast<double>(rate_);
        const auto i = static_cast<int32_t>(q);
        scratchIndex_[k] = i;
        scratchFrac_[k] = static_cast<float>(q - static_cast<double>(i));
    }
    // Every index is held inside the sample; with the guard frame after the last, index + 1
    // is then readable too, whatever a corrupt marker or loop point asked for.
    const int32_t last = view.frames - 1;
    for (int32_t k = 0; k < m; ++k) scratchIndex_[k] = std::clamp(scratchIndex_[k], 0, last);

    const float s = level_ * kSampleScale;
    const auto channel = [&](const int16_t* data, float* out) {
        for (int32_t k = 0; k < m; ++k) {
            const int32_t i = scratchIndex_[k];
            scratchA_[k] = static_cast<float>(data[i]);
            scratchB_[k] = static_cast<float>(data[i + 1]);
        }
        for (int32_t k = 0; k < kBlock; ++k) {
            const float a = s * scratchA_[k];
            const float b = s * scratchB_[k];
            scratchOut_[k] = a + (b - a) * scratchFrac_[k];
        }
        std::memcpy(out + o, scratchOut_, static_cast<std::size_t>(m) * sizeof(float));
    };
    channel(view.left, left_);
    if (view.right == nullptr || view.right == view.left)
        std::memcpy(right_ + o, left_ + o, static_cast<std::size_t>(m) * sizeof(float));
    else
        channel(view.right, right_);
}

void TMSampleReader::zero(int32_t from, int32_t count) {
    std::fill(left_ + from, left_ + from + count, 0.0f);
    std::fill(right_ + from, right_ + from + count, 0.0f);
}

}  // namespace kf
