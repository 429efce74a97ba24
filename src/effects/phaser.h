// Stereo phaser: per channel a chain of one to seven first-order all-pass sections whose
// common coefficient a sine LFO sweeps, with feedback from the chain output to its input.
// The right LFO runs ahead by the width offset. The rate is normally tempo-synced to a
// note length; the mix ramps per sample, and at zero mix the phaser costs nothing.
#pragma once

#include <cstdint>

#include "common/effect.h"
#include "effects/note_values.h"

namespace kf {

class TMPhaser : public TMEffect, public TMBPMChangeInterface {
  public:
    static constexpr int kMaxSections = 8;  // arrays hold 8; at most 7 are used
    static constexpr int32_t kMaxStages = 7;
    enum RateMode : int32_t { kFreeRate = 0, kSyncedRate = 1 };

    enum class Param : int32_t {
        kRate,      // LFO speed, or a note length when synced
        kFeedback,  // 0..0.85
        kDepth,
        kStages,  // 1..7 sections
        kWidth,   // stereo phase offset of the LFO
    };
    static constexpr EffectParameterInfo kParameters[] = {
        {"Rate", 0.5f}, {"Feedback", 0.5f}, {"Depth", 0.5f}, {"Stages", 0.5f}, {"Width", 0.5f}};

    // noteValues: the note-length lists for the synced rate; null means the shared set.
    TMPhaser(int32_t ownerTag, TMSystemInfo* info, const NoteValueSet* noteValues = nullptr);
    ~TMPhaser() override;

    int32_t process(float* left, float* right, int32_t count) noexcept override;
    int32_t processWet(float* left, float* right, int32_t count) noexcept override;
    bool set(Param p, float value) { return setParameter(static_cast<int32_t>(p), value); }
    // Index 0: kFreeRate or kSyncedRate.
    int32_t setParameterMode(int32_t index, int32_t mode) override;
    void reset() override;
    void controlTick() noexcept override;
    void updateTiming(bool keepContent) override;
    bool start() override;
    bool usesControlTick() const override { return true; }
    void getParameterDisplay(int32_t index, float value, char* text) const override;
    void fillParameterMenu(int32_t index, ParameterMenu& menu) const override;
    float getParameterSteps(int32_t index) const override;
    void bpmChanged() override { applyParameter(static_cast<int32_t>(Param::kRate), parameterValue(0)); }

    float lfoPhase() const { return phase_; }
    float lfoIncrement() const { return increment_; }
    int32_t stages() const { return stages_; }
    float currentMix() const { return mixNow_; }
    float mixTarget() const { return wetGain_; }
    float feedback() const { return feedback_; }
    float depth() const { return depth_; }
    int32_t rateMode() const { return rateMode_; }

  protected:
    void applyParameter(int32_t index, float value) override;
    // The mix target (0..1), reached linearly over the next control block.
    void applyDryWet(float mix) override { wetGain_ = mix; }

  private:
    const NoteValueList& noteList() const;
    int32_t noteIndexFor(float value) const;
    void computeSweep();
    template <bool kWetOnly>
    void runChains(float* left, float* right, int32_t count);

    alignas(32) float coeffL_[kMaxSections] = {};
    alignas(32) float stateL_[kMaxSections] = {};
    alignas(32) float coeffR_[kMaxSections] = {};
    alignas(32) float stateR_[kMaxSections] = {};
    float lowest_ = 0.0f;
    float highest_ = 0.0f;
    float feedback_ = 0.0f;
    float phase_ = 0.0f;
    float increment_ = 0.0f;
    float depth_ = 0.0f;
    float widthOffset_ = 0.0f;
    // The two feedback memories sit together so one registry record covers both.
    float feedbackMemory_[2] = {};
    int32_t rateMode_ = kFreeRate;
    int32_t stages_ = 5;
    float mixNow_ = 0.0f;
    float mixStep_ = 0.0f;
};

}  // namespace kf
