// Lo-fi ("retro"): per channel optional noise, sample-and-hold rate reduction, coarse
// quantisation, and a band-limited soft-clipped copy blended in. No tick, no tempo.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "common/effect.h"
#include "effects/state_variable_filter.h"

namespace kf {

class TMLofi : public TMEffect {
  public:
    static constexpr int32_t kMaxHold = 80;  // samples held at "SampleRate" 1.0

    enum class Param : int32_t {
        kBits,        // quantisation step 0.35 v
        kSampleRate,  // sample hold trunc(80 v)
        kNoise,       // v²
        kDistortion,  // blend v
    };
    static constexpr EffectParameterInfo kParameters[] = {
        {"Bit", 0.5f}, {"SampleRate", 0.5f}, {"Noise", 0.5f}, {"Distortion", 0.5f}};

    TMLofi(int32_t ownerTag, TMSystemInfo* info);
    ~TMLofi() override;

    int32_t process(float* left, float* right, int32_t count) noexcept override;
    int32_t processWet(float* left, float* right, int32_t count) noexcept override;
    bool set(Param p, float value) { return setParameter(static_cast<int32_t>(p), value); }
    void reset() override;
    void getParameterDisplay(int32_t index, float value, char* text) const override;

    // The samples each taken sample is held for at a "SampleRate" value; the input is taken
    // once every max(hold, 1) samples.
    static int32_t holdLengthFor(float value) {
        return truncToInt(static_cast<float>(kMaxHold) * clampUnit(value));
    }
    // The rate at which the hold takes input samples, at `sampleRate`.
    static float takenRate(float value, float sampleRate) {
        return sampleRate / static_cast<float>(std::max(holdLengthFor(value), 1));
    }

    float quantisationStep() const { return quantisationStep_; }
    int32_t holdLength() const { return holdLength_; }
    float noiseAmount() const { return noiseLevel_; }
    float distortionAmount() const { return distortion_; }

    // The process-wide noise generator (minimal-standard Park-Miller); 0 <= r < 1.
    static float nextNoise();
    static void seedNoise(int32_t seed);

  protected:
    void applyParameter(int32_t index, float value) override;

  private:
    template <bool kWetOnly>
    int32_t run(float* left, float* right, int32_t count);
    void setFilterCoefficients();

    fx::StateVariableFilter preL_{1.0};
    fx::StateVariableFilter preR_{1.0};
    fx::StateVariableFilter postL_{1.0};
    fx::StateVariableFilter postR_{1.0};
    // Held sample values, together so one registry record covers both.
    float heldSample_[2] = {};
    int32_t holdCounter_ = 0;
    int32_t holdLength_ = 0;
    float quantisationStep_ = 1.0f;
    float noiseLevel_ = 0.0f;
    float distortion_ = 0.5f;
};

}  // namespace kf
