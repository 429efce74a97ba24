// Stereo echo whose line is exactly one 4/4 bar at the host tempo; the delay time is a
// fraction of that bar. A change of delay time moves the read head gradually (a tape-like
// pitch bend) instead of jumping.
//
// Memory: the lines are sized, when the sample rate is set, for the longest bar any
// accepted tempo can ask for (45 beats per minute), so tempo changes on the audio thread
// only change how much of them is used and never allocate. The lines for a new rate are
// made beside the old ones, which stay in use until the new ones are whole.
#pragma once

#include <cstdint>

#include "common/effect.h"
#include "effects/dsp_util.h"
#include "effects/state_variable_filter.h"

namespace kf {

class TMDelay : public TMEffect, public TMBPMChangeInterface {
  public:
    static constexpr double kLowestTempo = 45.0;  // the engine never accepts a lower tempo
    static constexpr int32_t kMinDelay = 128;     // shortest echo, in samples
    static constexpr uint32_t kMinBar = 2 * kMinDelay;

    enum DelayTimeMode : int32_t {
        kFreeTime = 0,    // parameter 0 is a fraction of the bar
        kSyncedTime = 1,  // parameter 0 picks one of 15 note lengths
        kNoteTime = 2,    // parameter 0 picks a MIDI note; the delay is one period of it
    };

    enum class Param : int32_t {
        kTime,      // the echo distance (see DelayTimeMode)
        kFeedback,  // 0..0.98
        kWidth,     // stereo cross-feed
        kCutoff,    // echo high-pass, 0 = off
    };
    static constexpr EffectParameterInfo kParameters[] = {
        {"Delay", 0.5f}, {"Feedback", 0.5f}, {"Width", 0.5f}, {"Cutoff", 0.5f}};

    TMDelay(int32_t ownerTag, TMSystemInfo* info);
    ~TMDelay() override;

    int32_t process(float* left, float* right, int32_t count) noexcept override;
    int32_t processWet(float* left, float* right, int32_t count) noexcept override;
    bool set(Param p, float value) { return setParameter(static_cast<int32_t>(p), value); }
    // Index 0: delay-time mode (DelayTimeMode); index -1: glide on (1) or off (0).
    int32_t setParameterMode(int32_t index, int32_t mode) override;
    DelayTimeMode timeMode() const { return static_cast<DelayTimeMode>(delayTimeMode_); }
    void reset() override;
    void controlTick() noexcept override;
    void prepareSampleRate(float sampleRate) override;
    void updateTiming(bool keepContent) override;
    bool start() override;
    bool usesControlTick() const override { return true; }
    void getParameterDisplay(int32_t index, float value, char* text) const override;
    float getParameterSteps(int32_t index) const override;
    void bpmChanged() override { updateTiming(true); }

    uint32_t barLength() const { return barLength_; }
    uint32_t capacity() const { return capacity_; }
    int32_t delayLength() const { return delayLength_; }
    int32_t writeIndex() const { return writeIndex_; }
    double readPosition() const { return readPosition_; }
    float readIncrement() const { return readIncrement_; }
    float feedback() const { return feedback_; }
    float width() const { return width_; }
    const float* lineData(int channel) const { return channel == 0 ? lineL_.data() : lineR_.data(); }

  protected:
    void applyParameter(int32_t index, float value) override;

  private:
    static uint32_t capacityFor(float sampleRate);
    // Swaps in the lines prepared for sampleRate (preparing them first if need be).
    void useLinesFor(float sampleRate);
    uint32_t barLengthFor(float samplesPerBeat) const;
    int32_t delayLengthFor(float value) const;
    void wrapPositions();
    template <bool kWetOnly>
    int32_t run(float* left, float* right, int32_t count);

    uint32_t barLength_ = kMinBar;
    int32_t delayLength_ = 0;
    int32_t writeIndex_ = 0;
    int32_t glide_ = 1;
    // Set by a reset: the next delay time places the read head at once, since there is no
    // echo yet to glide from (gliding from distance 0 detunes the first seconds of echoes).
    bool placeHead_ = true;
    int32_t delayTimeMode_ = kFreeTime;
    float width_ = 0.0f;
    float oneMinusWidth_ = 1.0f;
    float feedback_ = 0.5f;
    // Double precision: in a float, a head near the end of a long line could not move by
    // the small speed offsets of a glide, and the echo would settle off its set time.
    double readPosition_ = 0.0;
    float readIncrement_ = 1.0f;
    fx::AlignedBuffer lineL_;
    fx::AlignedBuffer lineR_;
    // Made by prepareSampleRate for preparedRate_ (0: none), not yet in use.
    fx::AlignedBuffer preparedL_;
    fx::AlignedBuffer preparedR_;
    float preparedRate_ = 0.0f;
    fx::StereoHighPass cutoff_{static_cast<double>(0.89f)};
    uint32_t capacity_ = 0;
    float allocatedRate_ = 0.0f;
};

}  // namespace kf
