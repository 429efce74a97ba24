// The double-precision state-variable filter (Chamberlin form) shared by the delay, the
// reverb and the lo-fi effect. Only its high-pass output is used.
#pragma once

#include <cstdint>

#include "effects/dsp_util.h"

namespace kf::fx {

class StateVariableFilter {
  public:
    // q: damping (1 = no resonance). Stable for 0 <= k <= 1 with q in (0, 1.5].
    explicit StateVariableFilter(double q) : q_(q) {}

    // Frequency coefficient k, 0 (filter off) to 1.
    void setCoefficient(double k) { k_ = k; }
    double coefficient() const { return k_; }
    // With k = 0 the step would leave the input untouched but let band and low creep by
    // the anti-denormal offset forever; callers skip the filter instead.
    bool active() const { return k_ != 0.0; }

    // Zeroes the history; the coefficients stay.
    void clearState() {
        state_.low = 0.0;
        state_.high = 0.0;
        state_.band = 0.0;
    }
    // Zeroes the history and the frequency coefficient (filter off).
    void clearAll() {
        clearState();
        k_ = 0.0;
    }

    double highPass(double x) {
        state_.high = x + kEffectAntiDenormalD - state_.low - q_ * state_.band;
        state_.band = state_.band + k_ * state_.high + kEffectAntiDenormalD;
        state_.low = state_.low - kEffectAntiDenormalD + k_ * state_.band;
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
    double k_ = 0.0;
    double q_;
};

}  // namespace kf::fx
