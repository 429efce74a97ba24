// Room reverb: eight low-pass-feedback combs in parallel and four all-passes in series per
// channel, fed with the mono sum; the right channel's delays are the left's plus a stereo
// spread. Fixed delay lengths, so nothing depends on the sample rate.
#pragma once

#include <cstdint>

#include "common/effect.h"
#include "effects/dsp_util.h"
#include "effects/state_variable_filter.h"

namespace kf {

class TMReverb : public TMEffect {
  public:
    static constexpr int kCombs = 8;
    static constexpr int kAllPasses = 4;
    static constexpr int kStereoSpread = 23;
    static constexpr int32_t kCombLengths[kCombs] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static constexpr int32_t kAllPassLengths[kAllPasses] = {556, 441, 341, 225};
    // Samples of silence written after the mix reaches zero: enough to overwrite every
    // line completely, the longest being the right channel's last comb.
    static constexpr int32_t kClearLength = kCombLengths[kCombs - 1] + kStereoSpread;

    enum class Param : int32_t {
        kSize,      // comb feedback 0.7..0.98
        kStrength,  // wet gain 0..3
        kDamp,      // comb low-pass 0..0.4
        kWidth,     // stereo width
        kCutoff,    // output high-pass, 0 = off
    };
    static constexpr EffectParameterInfo kParameters[] = {
        {"Size", 0.5f}, {"Strength", 0.5f}, {"Damp", 0.5f}, {"Width", 1.0f}, {"Cutoff", 0.0f}};

    TMReverb(int32_t ownerTag, TMSystemInfo* info);
    ~TMReverb() override;

    int32_t process(float* left, float* right, int32_t count) noexcept override;
    int32_t processWet(float* left, float* right, int32_t count) noexcept override;
    bool set(Param p, float value) { return setParameter(static_cast<int32_t>(p), value); }
    void reset() override;
    void controlTick() noexcept override;
    bool usesControlTick() const override { return true; }
    void getParameterDisplay(int32_t index, float value, char* text) const override;

    float roomSize() const { return roomSize_; }
    float strength() const { return strength_; }
    // Output gains of a channel's own reverb and of the other channel's (the width).
    float wetSame() const { return wetSame_; }
    float wetCross() const { return wetCross_; }
    float width() const { return width_; }
    float damp() const { return damp_; }
    // True once the lines have been cleared after the mix reached zero.
    bool idle() const { return countdown_ < 0; }

  protected:
    void applyParameter(int32_t index, float value) override;
    // Linear law: wet gain m, dry gain 1 - m; m = 0 makes the reverb clear itself and idle.
    void applyDryWet(float mix) override;

  private:
    struct Channel {
        float* comb[kCombs];
        int32_t combLength[kCombs];
        int32_t combIndex[kCombs];
        float* allPass[kAllPasses];
        int32_t allPassLength[kAllPasses];
        int32_t allPassIndex[kAllPasses];
    };

    float runChannel(Channel& ch, float* stores, float x);
    // process() without (kWetOnly) or with the dry/wet mix, count >= 1.
    template <bool kWetOnly>
    void run(float* left, float* right, int32_t count);
    void clearLines(int32_t count);
    void updateWetGains();

    float inputGain_ = 0.015f;
    float roomSize_ = 0.84f;
    float strength_ = 0.0f;
    float wetSame_ = 0.0f;
    float wetCross_ = 0.0f;
    float width_ = 0.0f;
    float damp_ = 0.0f;
    float undamped_ = 1.0f;
    Channel channels_[2];
    // One-pole low-pass state inside each comb: left combs, then right combs.
    alignas(32) float combLowPass_[2 * kCombs] = {};
    fx::AlignedBuffer lines_;
    fx::StereoHighPass cutoff_{static_cast<double>(0.89f)};
    // 0 while running; samples still to clear while clearing; -1 when idle.
    int32_t countdown_ = 0;
};

}  // namespace kf
