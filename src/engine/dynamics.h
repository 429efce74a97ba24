// Level-dependent parts of the engine: the two input stages (gain, compressor, gate) that
// condition the host inputs, and the master section (three-band EQ, clamp and soft clip,
// compressor and level) after the dry/wet blend.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "common/system_info.h"
#include "engine/eq_model.h"

namespace kf {

// One-pole-pair smoothing coefficients of a detector with time s (ms): the corner 202 - s Hz,
// limited to the range the engine allows at this rate, through a truncated tangent series.
struct SmoothingCoefficients {
    float corner;  // Hz, after limiting
    float a;       // feedback weight of the envelope two frames back
    float b;       // weight of the current and previous peak
};
SmoothingCoefficients smoothingFor(float timeMs, float sampleRate);

// Control-rate gain ramp: reaches its target in 32 frames, snapping tiny steps.
struct GainRamp {
    float value = 0.0f;
    float step = 0.0f;
    void retarget(float target);
    float advance() { return value += step; }
};

// Peak detector with a decaying hold and a two-frame-back smoothing recursion.
struct PeakEnvelope {
    float peak = 0.0f, decay = 0.0f;
    float env = 0.0f;       // E(n), the latest envelope value
    float envPrev = 0.0f;   // E(n-1)
    float peakPrev = 0.0f;  // P(n-1)
    // Feeds one frame; returns the new held peak P(n).
    float feed(float x, float k, float a, float b);
};

class InputStage {
  public:
    // Stage one's gain rises as its gate closes (analysis inputs); stage two is a compressor
    // with a gate (synthesis input). Their gain laws differ, everything else is shared.
    enum class Kind { One, Two };

    InputStage(const TMSystemInfo& info, Kind kind);

    // Normalised setters (clamped to 0..1, NaN as 0), callable from any thread; the working
    // values are taken over by applyPending at the next processed chunk.
    void setGain(float v);   // G = 8v
    void setRatio(float v);  // compressor ratio = v (display 12v)
    void setSpeed(float v);  // detector time s = 180 - 160v ms (20..180)
    void setGate(float v);   // g = v rounded down to 0.0001; threshold g^4
    // The in_a / in_b switch: while frozen, detection is skipped and the stage gain is held.
    void setFrozen(bool frozen) { frozen_.store(frozen, std::memory_order_relaxed); }

    // Recomputes the rate-dependent values from the last speed set (after a rate change).
    void updateRate() { setSpeed(get(speedValue_)); }

    void applyPending();  // audio thread
    // Control block: new gain target from the envelope and gate, and its ramp step.
    void controlBlock();
    // n frames: detects on a + b (unless frozen), ramps the gain, writes a·gain and b·gain.
    void process(const float* a, const float* b, float* outA, float* outB, int32_t n);

    // Derived values, as last set.
    float gateLevel() const { return get(gate_); }           // g
    float gateThreshold() const { return get(threshold_); }  // g^4
    float gateThresholdDb() const { return get(thresholdDb_); }
    float gain() const { return get(gain_); }  // 8v
    float gainDb() const { return get(gainDb_); }
    float ratio() const { return get(ratio_); }
    float ratioDisplay() const { return get(ratioDisplay_); }  // 12v
    float speedMs() const { return get(speed_); }              // s
    float corner() const { return get(corner_); }              // 202 - s, limited
    float peakDecayFactor() const { return get(peakDecay_); }  // 1 / (s · samples/ms + 1e-9)
    float smoothingA() const { return get(smoothingA_); }
    float smoothingB() const { return get(smoothingB_); }
    bool frozen() const { return frozen_.load(std::memory_order_relaxed); }

    // Working state (audio thread).
    float currentGain() const { return ramp_.value; }
    float stageGain() const { return stageGain_; }  // last computed g, 0..1
    const PeakEnvelope& detector() const { return detector_; }
    float gateEnvelope() const { return gateEnvelope_; }

  private:
    static float get(const std::atomic<float>& a) { return a.load(std::memory_order_relaxed); }
    static void put(std::atomic<float>& a, float v) { a.store(v, std::memory_order_relaxed); }
    void touch() { dirty_.store(true, std::memory_order_release); }

    const TMSystemInfo& info_;
    const Kind kind_;
    std::atomic<float> gate_{0}, threshold_{0}, thresholdDb_{0}, gain_{0}, gainDb_{0}, ratio_{0},
        ratioDisplay_{0}, speed_{0}, corner_{0}, peakDecay_{0}, smoothingA_{0}, smoothingB_{0};
    std::atomic<float> speedValue_{0.5f};  // last normalised speed
    std::atomic<bool> frozen_{false};
    std::atomic<bool> dirty_{true};

    // Working copies read by the audio path.
    struct Working {
        float threshold = 0, gain = 0, ratio = 0, peakDecay = 0, smoothingA = 0, smoothingB = 0;
        bool frozen = false;
    } working_;
    PeakEnvelope detector_;
    float gateEnvelope_ = 0.0f, gateEnvelopePrev_ = 0.0f;  // gate envelope Gt(n), Gt(n-1)
    float gateOpenPrev_ = 0.0f;
    float stageGain_ = 0.0f;
    GainRamp ramp_;
};

class MasterSection {
  public:
    explicit MasterSection(const TMSystemInfo& info);

    // Normalised setters (clamped to 0..1, NaN as 0), any thread; applied at the next chunk.
    void setEqLow(float v);       // gain 24v - 12 dB
    void setEqMid(float v);       // gain 24v - 12 dB
    void setEqHigh(float v);      // gain 24v - 12 dB
    void setCompAmount(float v);  // C = 4v
    void setCompSpeed(float v);   // s = 200 - 170v ms (30..200)
    void setLevel(float v);       // L = 4v

    // Recomputes the rate-dependent values: the compressor's from the last speed set, and the
    // EQ's bands for this rate (fitted at rates other than 44.1 kHz, which takes milliseconds).
    void updateRate();

    // Records the EQ states as audio history (the detector and gain are not sound).
    void registerHistory(StateRegistry& registry) {
        registry.add(&eqL_, sizeof eqL_);
        registry.add(&eqR_, sizeof eqR_);
    }

    void applyPending();  // audio thread
    // Control block: master gain target L·(1 - min(E·C, 0.74)).
    void controlBlock();
    // n frames in place: EQ, clamp to ±2, soft clip, detector on the left, master gain.
    // offset is the anti-denormal offset of the first frame (sign flips every frame).
    void process(float* left, float* right, float offset, int32_t n);

    float eqLowGain() const { return get(eqLowGain_); }
    float eqMidGain() const { return get(eqMidGain_); }
    float eqHighGain() const { return get(eqHighGain_); }
    float eqLowDb() const { return get(eqLowDb_); }
    float eqMidDb() const { return get(eqMidDb_); }
    float eqHighDb() const { return get(eqHighDb_); }
    float compAmount() const { return get(compAmount_); }  // 4v
    float compAmountDb() const { return get(compAmountDb_); }
    float compSpeedMs() const { return get(speed_); }
    float corner() const { return get(corner_); }
    float peakDecayFactor() const { return get(peakDecay_); }
    float smoothingA() const { return get(smoothingA_); }
    float smoothingB() const { return get(smoothingB_); }
    float level() const { return get(level_); }  // 4v
    float levelDb() const { return get(levelDb_); }

    // The EQ split coefficient the bands are made with at 44.1 kHz.
    static float eqCoefficient();
    // Whether the EQ runs its fitted bands (the rate is not 44.1 kHz) and what they are.
    bool eqFitted() const { return eqFitted_.load(std::memory_order_relaxed); }

    float currentGain() const { return ramp_.value; }
    const PeakEnvelope& detector() const { return detector_; }

  private:
    struct EqState {
        float bp = 0, lp = 0;
        double w1 = 0, w2 = 0, w3 = 0;  // the fitted bands' shared recursion, newest first
    };
    template <bool kFitted>
    void run(float* left, float* right, float offset, int32_t n);
    static float get(const std::atomic<float>& a) { return a.load(std::memory_order_relaxed); }
    static void put(std::atomic<float>& a, float v) { a.store(v, std::memory_order_relaxed); }
    void touch() { dirty_.store(true, std::memory_order_release); }
    void setEq(std::atomic<float>& gain, std::atomic<float>& db, float v);

    const TMSystemInfo& info_;
    std::atomic<float> eqLowGain_{0}, eqMidGain_{0}, eqHighGain_{0}, eqLowDb_{0}, eqMidDb_{0}, eqHighDb_{0},
        compAmount_{0}, compAmountDb_{0}, speed_{0}, corner_{0}, peakDecay_{0}, smoothingA_{0},
        smoothingB_{0}, level_{0}, levelDb_{0};
    std::atomic<float> speedValue_{0.5f};  // last normalised compressor speed
    std::atomic<bool> eqFitted_{false};
    EqBandModel eqModel_;  // fields written whole (relaxedStore) at set-up
    float eqModelRate_ = 44100.0f;
    std::atomic<bool> dirty_{true};

    struct Working {
        float eqLowGain = 0, eqMidGain = 0, eqHighGain = 0, compAmount = 0, peakDecay = 0, smoothingA = 0,
              smoothingB = 0, level = 0;
        bool fitted = false;
        // Fitted EQ: denominator and the output's weights: the high gain on the input, and on
        // the recursion's last four values the middle and low numerators weighted by
        // mid - high and low - high.
        std::array<double, 3> a3{};
        std::array<double, 4> taps{};
        double high = 1;
    } working_;
    EqState eqL_, eqR_;
    PeakEnvelope detector_;
    GainRamp ramp_;
};

}  // namespace kf
