#include "engine/dynamics.h"

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "common/numeric.h"
#include "common/parameter_table.h"
#include "common/relaxed_atomic.h"

namespace kf {
namespace {

// Corner limits of the detector smoothing, as fractions of the sample rate, and pi as used
// for the pre-warped corner (kept at this precision: the coefficients depend on it).
constexpr float kCornerLow = 4.0690105e-05f;
constexpr float kCornerHigh = 0.46382192f;
constexpr float kPi = 3.14159f;
// Truncated tangent series terms w^3 and w^5 (stored bit patterns of the tuned constants).
const float kTan3 = std::bit_cast<float>(0x3EAAAA9Fu);  // 0.333333
const float kTan5 = std::bit_cast<float>(0x3FAAAAA8u);  // 1.333333

constexpr float kRampFactor = 1.0f / static_cast<float>(kControlInterval);
constexpr float kRampSnap = 1e-7f;

constexpr float kClipLimit = 2.0f;
constexpr float kSoftClip = 0.25f;  // y·(1 - 0.25|y|) maps ±2 to ±1 with slope 0 there

float decayFactor(float timeMs, float samplesPerMs) {
    return 1.0f / (timeMs * samplesPerMs + 1e-9f);
}

// The published timing values of a peak detector with its smoothing (input stages and master).
struct DetectorTimingValues {
    std::atomic<float>& speed;
    std::atomic<float>& corner;
    std::atomic<float>& a;
    std::atomic<float>& b;
    std::atomic<float>& k;
};

// Detector time s in ms: smoothing corner and weights, and the peak decay per frame.
void storeDetectorTiming(float s, const TMSystemInfo& info, DetectorTimingValues out) {
    const SmoothingCoefficients c = smoothingFor(s, info.sampleRate);
    out.speed.store(s, std::memory_order_relaxed);
    out.corner.store(c.corner, std::memory_order_relaxed);
    out.a.store(c.a, std::memory_order_relaxed);
    out.b.store(c.b, std::memory_order_relaxed);
    out.k.store(decayFactor(s, info.samplesPerMillisecond), std::memory_order_relaxed);
}

}  // namespace

SmoothingCoefficients smoothingFor(float timeMs, float sampleRate) {
    const float fc = std::clamp(202.0f - timeMs, sampleRate * kCornerLow, sampleRate * kCornerHigh);
    const float w = fc * (kPi / sampleRate);
    const float w3 = w * w * w;
    const float w5 = w3 * w * w;
    const float k = (w + kTan3 * w3) + kTan5 * w5;
    return {fc, (1.0f - k) / (1.0f + k), k / (1.0f + k)};
}

void GainRamp::retarget(float target) {
    step = (target - value) * kRampFactor;
    if (step > -kRampSnap && step < kRampSnap) {
        step = 0.0f;
        value = target;
    }
}

float PeakEnvelope::feed(float x, float k, float a, float b) {
    float held = peak - decay;
    held = held > 0.0f ? held : 0.0f;
    if (x > held) {
        peak = x;
        decay = x * k;
    } else {
        peak = held;
    }
    // Feedback from two frames back: a two-pole smoother without resonance at these corners.
    const float e = (a * envPrev + b * peak) + b * peakPrev;
    envPrev = env;
    env = e;
    peakPrev = peak;
    return peak;
}

// ---------------------------------------------------------------------------------------------
// Input stage

InputStage::InputStage(const TMSystemInfo& info, Kind kind) : info_(info), kind_(kind) {
    // Unity gain, no compression, mid speed; the gate makes either stage pass its input.
    setGain(0.125f);
    setRatio(0.0f);
    setSpeed(0.5f);
    setGate(kind == Kind::One ? 1.0f : 0.0f);
    applyPending();
}

void InputStage::setGain(float v) {
    const float g = law::inputGain(clampUnit(v));
    put(gain_, g);
    put(gainDb_, decibels(g));
    touch();
}

void InputStage::setRatio(float v) {
    v = clampUnit(v);
    put(ratio_, v);
    put(ratioDisplay_, 12.0f * v);
    touch();
}

void InputStage::setSpeed(float v) {
    v = clampUnit(v);
    put(speedValue_, v);
    storeDetectorTiming(law::inputSpeed(v), info_, {speed_, corner_, smoothingA_, smoothingB_, peakDecay_});
    touch();
}

void InputStage::setGate(float v) {
    const float g = law::gate(clampUnit(v));
    const float threshold = g * g * g * g;  // fourth power: fine control at low levels
    put(gate_, g);
    put(threshold_, threshold);
    put(thresholdDb_, decibels(threshold));
    touch();
}

void InputStage::applyPending() {
    working_.frozen = frozen_.load(std::memory_order_relaxed);
    if (!dirty_.exchange(false, std::memory_order_acquire)) return;
    working_.threshold = get(threshold_);
    working_.gain = get(gain_);
    working_.ratio = get(ratio_);
    working_.peakDecay = get(peakDecay_);
    working_.smoothingA = get(smoothingA_);
    working_.smoothingB = get(smoothingB_);
}

void InputStage::controlBlock() {
    if (!working_.frozen) {
        const float c = std::clamp(detector_.env * working_.ratio, 0.0f, 0.8f);
        // Stage one opens towards c as the gate opens; stage two compresses by up to 0.8 and
        // falls silent with the gate closed.
        stageGain_ = kind_ == Kind::One ? 1.0f - (1.0f - c) * gateEnvelope_ : (1.0f - c) * gateEnvelope_;
    }
    ramp_.retarget(stageGain_ * working_.gain);
}

void InputStage::process(const float* a, const float* b, float* outA, float* outB, int32_t n) {
    // Working copies in locals: the outputs are float arrays the compiler must otherwise
    // assume to overlap the detector fields.
    GainRamp ramp = ramp_;
    if (working_.frozen) {
        for (int32_t i = 0; i < n; ++i) {
            const float g = ramp.advance();
            outA[i] = a[i] * g;
            outB[i] = b[i] * g;
        }
        ramp_ = ramp;
        return;
    }
    PeakEnvelope det = detector_;
    float gt = gateEnvelope_, gtPrev = gateEnvelopePrev_, flagPrev = gateOpenPrev_;
    const float threshold = working_.threshold, k = working_.peakDecay, ca = working_.smoothingA,
                cb = working_.smoothingB;
    for (int32_t i = 0; i < n; ++i) {
        const float p = det.feed(a[i] + b[i], k, ca, cb);
        const float flag = threshold < p ? 1.0f : 0.0f;
        const float next = (ca * gtPrev + cb * flag) + cb * flagPrev;
        gtPrev = gt;
        gt = next;
        flagPrev = flag;
        const float g = ramp.advance();
        outA[i] = a[i] * g;
        outB[i] = b[i] * g;
    }
    detector_ = det;
    gateEnvelope_ = gt, gateEnvelopePrev_ = gtPrev, gateOpenPrev_ = flagPrev;
    ramp_ = ramp;
}

// ---------------------------------------------------------------------------------------------
// Master section

float MasterSection::eqCoefficient() {
    return static_cast<float>(25131.999969482422 / 44100.0);
}

MasterSection::MasterSection(const TMSystemInfo& info) : info_(info) {
    // Flat EQ, no compression, unity level until the owner sends its values.
    setEqLow(0.5f);
    setEqMid(0.5f);
    setEqHigh(0.5f);
    setCompAmount(0.0f);
    setCompSpeed(0.5f);
    setLevel(0.25f);
    updateRate();
    applyPending();
}

void MasterSection::updateRate() {
    setCompSpeed(get(speedValue_));
    const float rate = info_.sampleRate;
    if (rate == eqModelRate_) return;
    eqModelRate_ = rate;
    // 44.1 kHz keeps the split as it is made; a rate without a stable fit keeps it too.
    EqBandModel model;
    const bool fitted = rate != 44100.0f && fitEqBands(rate, eqCoefficient(), model);
    if (fitted) {
        for (std::size_t k = 0; k < model.a.size(); ++k) relaxedStore(eqModel_.a[k], model.a[k]);
        for (std::size_t k = 0; k < model.mid.size(); ++k) {
            relaxedStore(eqModel_.mid[k], model.mid[k]);
            relaxedStore(eqModel_.low[k], model.low[k]);
        }
    }
    eqFitted_.store(fitted, std::memory_order_relaxed);
    touch();
}

void MasterSection::setEq(std::atomic<float>& gain, std::atomic<float>& db, float v) {
    const float d = law::eqGain(clampUnit(v));
    put(db, d);
    put(gain, std::pow(10.0f, d / 20.0f));
    touch();
}

void MasterSection::setEqLow(float v) {
    setEq(eqLowGain_, eqLowDb_, v);
}
void MasterSection::setEqMid(float v) {
    setEq(eqMidGain_, eqMidDb_, v);
}
void MasterSection::setEqHigh(float v) {
    setEq(eqHighGain_, eqHighDb_, v);
}

void MasterSection::setCompAmount(float v) {
    const float c = law::masterAmount(clampUnit(v));
    put(compAmount_, c);
    put(compAmountDb_, decibels(c));
    touch();
}

void MasterSection::setCompSpeed(float v) {
    v = clampUnit(v);
    put(speedValue_, v);
    storeDetectorTiming(law::masterSpeed(v), info_, {speed_, corner_, smoothingA_, smoothingB_, peakDecay_});
    touch();
}

void MasterSection::setLevel(float v) {
    const float l = law::masterAmount(clampUnit(v));
    put(level_, l);
    put(levelDb_, decibels(l));
    touch();
}

void MasterSection::applyPending() {
    if (!dirty_.exchange(false, std::memory_order_acquire)) return;
    working_.eqLowGain = get(eqLowGain_);
    working_.eqMidGain = get(eqMidGain_);
    working_.eqHighGain = get(eqHighGain_);
    working_.compAmount = get(compAmount_);
    working_.peakDecay = get(peakDecay_);
    working_.smoothingA = get(smoothingA_);
    working_.smoothingB = get(smoothingB_);
    working_.level = get(level_);
    working_.fitted = eqFitted_.load(std::memory_order_relaxed);
    if (working_.fitted) {
        const double high = working_.eqHighGain, mid = working_.eqMidGain - high,
                     low = working_.eqLowGain - high;
        for (std::size_t k = 0; k < working_.a3.size(); ++k) working_.a3[k] = relaxedLoad(eqModel_.a[k]);
        for (std::size_t k = 0; k < working_.taps.size(); ++k)
            working_.taps[k] = mid * relaxedLoad(eqModel_.mid[k]) + low * relaxedLoad(eqModel_.low[k]);
        working_.high = high;
    }
}

void MasterSection::controlBlock() {
    const float c = std::clamp(detector_.env * working_.compAmount, 0.0f, 0.74f);
    ramp_.retarget(working_.level * (1.0f - c));
}

// One fixed Chamberlin split per channel (damping 2, about 4 kHz at 44.1 kHz) gives high-pass,
// band-pass and low-pass parts, which are weighted by the three gains; then the clamp to ±2 and
// the soft clip to ±1. The stage's own recursion gives x = hp + 2·bp' + lp' (bp', lp' the states
// before this frame), so weighting hp, 2·bp' and lp' makes the three bands sum back to the input
// exactly when all gains are 1, and each band applies its full gain where it dominates: the low
// band below the split, the middle band at the split, the high band above it.
// Left and right run side by side in the two low lanes of one vector; each lane performs
// exactly the scalar operations. At rates other than 44.1 kHz the fitted bands (eq_model.h)
// stand in for the split, so its tone does not move with the rate.
void MasterSection::process(float* left, float* right, float offset, int32_t n) {
    if (working_.fitted)
        run<true>(left, right, offset, n);
    else
        run<false>(left, right, offset, n);
}

// Fitted bands: w = (x + offset) / D, then y = gH x + the weighted last four w, left and right in
// the two lanes of one double vector.
template <bool kFitted>
void MasterSection::run(float* left, float* right, float offset, int32_t n) {
    const __m128d two = _mm_set1_pd(2.0);
    const __m128 cb = _mm_set1_ps(eqCoefficient());
    const __m128 twoF = _mm_set1_ps(2.0f), limit = _mm_set1_ps(kClipLimit), soft = _mm_set1_ps(kSoftClip);
    const __m128 one = _mm_set1_ps(1.0f), signBit = _mm_set1_ps(-0.0f);
    const __m128 gL = _mm_set1_ps(working_.eqLowGain), gM = _mm_set1_ps(working_.eqMidGain),
                 gH = _mm_set1_ps(working_.eqHighGain);
    __m128 bp = _mm_setr_ps(eqL_.bp, eqR_.bp, 0, 0), lp = _mm_setr_ps(eqL_.lp, eqR_.lp, 0, 0);
    const __m128d a1 = _mm_set1_pd(working_.a3[0]), a2 = _mm_set1_pd(working_.a3[1]),
                  a3 = _mm_set1_pd(working_.a3[2]);
    const __m128d t0 = _mm_set1_pd(working_.taps[0]), t1 = _mm_set1_pd(working_.taps[1]),
                  t2 = _mm_set1_pd(working_.taps[2]), t3 = _mm_set1_pd(working_.taps[3]),
                  high = _mm_set1_pd(working_.high);
    __m128d w1 = _mm_setr_pd(eqL_.w1, eqR_.w1), w2 = _mm_setr_pd(eqL_.w2, eqR_.w2),
            w3 = _mm_setr_pd(eqL_.w3, eqR_.w3);
    PeakEnvelope det = detector_;
    GainRamp ramp = ramp_;
    const float k = working_.peakDecay, a = working_.smoothingA, b = working_.smoothingB;
    for (int32_t i = 0; i < n; ++i) {
        const __m128 off = _mm_set1_ps(offset);
        const __m128 x = _mm_unpacklo_ps(_mm_load_ss(left + i), _mm_load_ss(right + i));
        __m128 y;
        if constexpr (kFitted) {
            const __m128d xd = _mm_cvtps_pd(x);
            const __m128d w =
                _mm_sub_pd(_mm_sub_pd(_mm_sub_pd(_mm_add_pd(xd, _mm_cvtps_pd(off)), _mm_mul_pd(a1, w1)),
                                      _mm_mul_pd(a2, w2)),
                           _mm_mul_pd(a3, w3));
            const __m128d sum = _mm_add_pd(
                _mm_add_pd(_mm_add_pd(_mm_mul_pd(high, xd), _mm_mul_pd(t0, w)), _mm_mul_pd(t1, w1)),
                _mm_add_pd(_mm_mul_pd(t2, w2), _mm_mul_pd(t3, w3)));
            w3 = w2;
            w2 = w1;
            w1 = w;
            y = _mm_cvtpd_ps(sum);
        } else {
            // The subtraction in double, so a loud input does not swamp the small states.
            const __m128 hp = _mm_cvtpd_ps(
                _mm_sub_pd(_mm_sub_pd(_mm_cvtps_pd(x), _mm_mul_pd(two, _mm_cvtps_pd(bp))), _mm_cvtps_pd(lp)));
            const __m128 band = _mm_mul_ps(twoF, bp), low = lp;
            bp = _mm_add_ps(_mm_add_ps(bp, _mm_mul_ps(cb, hp)), off);
            lp = _mm_add_ps(_mm_add_ps(lp, _mm_mul_ps(cb, bp)), off);
            y = _mm_add_ps(_mm_add_ps(_mm_mul_ps(gH, hp), _mm_mul_ps(gM, band)), _mm_mul_ps(gL, low));
        }
        y = _mm_min_ps(_mm_max_ps(y, _mm_sub_ps(_mm_setzero_ps(), limit)), limit);
        y = _mm_mul_ps(y, _mm_sub_ps(one, _mm_mul_ps(soft, _mm_andnot_ps(signBit, y))));
        const float yl = _mm_cvtss_f32(y);
        const float yr = _mm_cvtss_f32(_mm_shuffle_ps(y, y, 1));
        // Only the left channel drives the compressor; both get the same gain.
        det.feed(yl, k, a, b);
        const float m = ramp.advance();
        left[i] = yl * m;
        right[i] = m * yr;
        offset = -offset;
    }
    alignas(16) float v[4];
    _mm_store_ps(v, bp), eqL_.bp = v[0], eqR_.bp = v[1];
    _mm_store_ps(v, lp), eqL_.lp = v[0], eqR_.lp = v[1];
    alignas(16) double d[2];
    _mm_store_pd(d, w1), eqL_.w1 = d[0], eqR_.w1 = d[1];
    _mm_store_pd(d, w2), eqL_.w2 = d[0], eqR_.w2 = d[1];
    _mm_store_pd(d, w3), eqL_.w3 = d[0], eqR_.w3 = d[1];
    detector_ = det;
    ramp_ = ramp;
}

}  // namespace kf
