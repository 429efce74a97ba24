// The double-precision state-variable filter (Chamberlin form) shared by the delay, the
// reverb and the lo-fi effect. Only its high-pass output is used.
#pragma once

#include <cstdint>

#include "effects/dsp_util.h"

namespace kf::fx {

class StateVariableFilter {
  public:
    // q: damping (1 = no resonance). Stable for 0 <= k <= 1 with q in (0, 1.5].
    explicit StateVariableFilter(double q) : damping_(q) {}

    // Frequency coefficient k, 0 (filter off) to 1.
    void setCoefficient(double k) { frequency_ = k; }
    double coefficient() const { return frequency_; }
    // With k = 0 the step would leave the input untouched but let band and low creep by
    // the anti-denormal offset forever; callers skip the filter instead.
    bool active() const { return frequency_ != 0.0; }

    // Zeroes the history; the coefficients stay.
    void clearState() {
        state_.low = 0.0;
        state_.high = 0.0;
        state_.band = 0.0;
    }
    // Zeroes the history and the frequency coefficient (filter off).
    void clearAll() {
        clearState();
        frequency_ = 0.0;
    }

    double highPass(double x) {
        state_.high = x + kEffectAntiDenormalD - state_.low - damping_ * state_.band;
        state_.band = state_.band + frequency_ * state_.high + kEffectAntiDenormalD;
        state_.low = state_.low - kEffectAntiDenormalD + frequency_ * state_.band;
        return state_.high;
    }

    // The history, for the state registry (the coefficients are not history: a suspend
    // must not switch a filter off).
    void* stateData() { return &state_; }
    static constexpr uint32_t stateBytes() { return sizeof(State); }

    double low() const { return state_.low; }
    double band() const { return state_.band; }

  private:
    struct State {
        double low = 0.0;
        double high = 0.0;
        double band = 0.0;
    };
    State state_;
    double frequency_ = 0.0;
    double damping_;
};

// The stereo high-pass behind the delay's and the reverb's "Cutoff" parameter: one filter a
// channel, both tuned by one knob whose value to the fourth power is the coefficient (so the
// lower half of the knob's travel stays in the bass).
class StereoHighPass {
  public:
    explicit StereoHighPass(double q) : left_(q), right_(q) {}

    // value 0..1 (0 switches the filter off).
    void setCutoff(float value) {
        const float k = value * value * value * value;
        left_.setCoefficient(static_cast<double>(k));
        right_.setCoefficient(static_cast<double>(k));
    }
    bool active() const { return left_.active(); }

    // Filters one frame in place.
    void process(float& left, float& right) {
        left = static_cast<float>(left_.highPass(static_cast<double>(left)));
        right = static_cast<float>(right_.highPass(static_cast<double>(right)));
    }

    void clearState() {
        left_.clearState();
        right_.clearState();
    }
    void clearAll() {
        left_.clearAll();
        right_.clearAll();
    }

    StateVariableFilter& channel(int c) { return c == 0 ? left_ : right_; }

  private:
    StateVariableFilter left_;
    StateVariableFilter right_;
};

}  // namespace kf::fx
