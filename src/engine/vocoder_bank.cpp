#include "engine/vocoder_bank.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "common/numeric.h"
#include "common/parameter_table.h"

namespace kf {
namespace {

// Band resonance shape: only the lowest five bands and the bands near the top edge of the
// spread are ever sharpened; the middle bands stay at damping 1 for an even, smooth spectrum.
constexpr std::array<float, VocoderBank::kBands> kResonanceShape = {
    0.9f, 0.9f, 0.9f, 0.9f, 0.9f,                                                        // 0..4
    0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,  // 5..18
    0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,                                                  // 19..24
    0.9f, 0.8f, 0.6f, 0.4f, 0.2f,                                                        // 25..29
    0.0f, 0.0f};                                                                         // 30, 31

constexpr float kMaxResonance = 0.9f;
constexpr float kMaxBandResonance = 0.84f;  // also the stage-2 damping weight

// Largest frequency coefficient a band may use when its stricter stage has damping q. A
// Chamberlin stage is stable only while f^2 + 2qf < 4 (f < sqrt(q^2 + 4) - q); right at that
// bound its poles sit on Nyquist and the anti-denormal offset, itself a Nyquist tone, rings it
// for ever. Below 44.1 kHz the rate factor pushes the top bands over it. The limit used is the
// tuning at which the stage's gain at Nyquist, 2f / (4 - 2qf - f^2), reaches 2: the gain the
// top band (u = 1, q = 1) already has at 44.1 kHz. It is the root of f^2 + (2q + 1)f - 4 = 0,
// exactly 1 at q = 1 and above 1 for q < 1, so 44.1 kHz and higher rates are never limited and
// every lower rate keeps a clear margin to the stability bound.
float stableBandCoefficient(float q) {
    const double b = 2.0 * static_cast<double>(q) + 1.0;
    return static_cast<float>(0.5 * (std::sqrt(b * b + 16.0) - b));
}

// Reciprocal estimate refined by one Newton step, as the release factor has always been
// computed (it sets the exact decay slope, so keep it stable across versions).
float refinedReciprocal(float x) {
    float c0 = _mm_cvtss_f32(_mm_rcp_ss(_mm_set_ss(x)));
    return c0 * (2.0f - x * c0);
}

// The articulate bank, as measured on synthetic voices against the speech-following figure
// (bench/preset_figures). Centres log-spaced over the voice's formant range: below 130 Hz
// lies only the voice's pitch, and above 4.5 kHz the consonant path takes over.
constexpr double kArticulateLowHz = 130.0, kArticulateHighHz = 4500.0;
// Narrow bands (Q 12.5 per stage) keep each formant in its own bands; a broad band smears
// neighbouring formants into one envelope. The lowest bands are wider (damping 0.4, rising
// to the narrow one over the first twelve bands): among the few, widely spaced harmonics of
// a low voice and a low carrier, a narrow low band too often holds no harmonic at all.
constexpr float kNarrowDamping = 0.08f, kLowDamping = 0.4f;
constexpr int kWideningBands = 12;
// The follower's time constant: 2 ms. Longer smoothing lags the formants measurably (8 ms
// lost 0.04 of the speech-following figure); the low bands take half a period of their
// centre instead, so their envelope carries little ripple.
constexpr double kFollowerSeconds = 0.002, kFollowerPeriods = 0.5;
// Pre-emphasis of the carrier (x - 0.95·x[n-1]): a sawtooth's harmonics fall by 6 dB per
// octave, and without it the strong low ones leak through the skirts of the upper bands.
constexpr float kCarrierEmphasis = 0.95f;
// Output level: the band sums of a voice at -1 dBFS peak on a sawtooth chord at -12 dBFS come
// out at about the classic bank's level, so presets keep their master levels.
constexpr double kArticulateLevel = 3.5;
// The consonant path: the voice's own band above the bank (two high-pass stages at 5 kHz,
// 24 dB per octave, so it adds nothing to the formant region), and noise into the
// synthesis bank, gated by how much more level the top of the bank holds than its bottom.
constexpr double kHighBandHz = 5000.0;
constexpr float kHighBandDamping = 1.4142135f;
// Below about 28 kHz the high band's stages cannot be tuned that high and stay stable (see
// stableBandCoefficient); tuned lower they would pass the formants, so the band stays off.
constexpr double kLowestHighBandHz = 4000.0;
// At consonants 1: the high band at a quarter of the voice's own level there (louder, it
// beats against the top bands and blurs them), and the noise at twice the carrier's RMS
// with the gate fully open, so a hiss still stands out against a loud carrier.
constexpr float kHighBandLevel = 0.25f, kNoiseLevel = 2.0f;
constexpr double kVoicedBelowHz = 1000.0, kHissAboveHz = 3000.0;
constexpr float kGateOpensAt = 0.6f, kGateOpenAt = 2.5f;  // ratio of the top's to the bottom's mean level
// Every tuning is kept below this share of the sample rate, and within the stage's stable range.
constexpr double kHighestTuning = 0.45;

double articulateCentreHz(int k) {
    return kArticulateLowHz *
           std::pow(kArticulateHighHz / kArticulateLowHz, static_cast<double>(k) / (VocoderBank::kBands - 1));
}

float articulateDamping(int k) {
    const float t = std::min(1.0f, static_cast<float>(k) / kWideningBands);
    return kLowDamping + (kNarrowDamping - kLowDamping) * t;
}

// The articulate bands whose mean level stands for the voiced bottom and for the hissing top.
int bandsBelow(double hz) {
    int k = 0;
    while (k < VocoderBank::kBands && articulateCentreHz(k) < hz) ++k;
    return k;
}
const int kVoicedBands = bandsBelow(kVoicedBelowHz);
const int kHissStart = bandsBelow(kHissAboveHz);

// A frequency coefficient 2·sin(pi·hz/rate), 0 for hz <= 0, within the damping's stable range.
float tuning(double hz, double rate, float damping) {
    if (!(hz > 0.0)) return 0.0f;
    const double f = 2.0 * std::sin(std::numbers::pi * std::min(hz, kHighestTuning * rate) / rate);
    return std::min(static_cast<float>(f), stableBandCoefficient(damping));
}

vocoder::FrameKernel kernelFor(vocoder::Isa isa, bool articulate) {
    switch (isa) {
        case vocoder::Isa::Avx512:
            return articulate ? vocoder::articulateAvx512 : vocoder::processAvx512;
        case vocoder::Isa::Avx2:
            return articulate ? vocoder::articulateAvx2 : vocoder::processAvx2;
        case vocoder::Isa::Sse2:
            break;
    }
    return articulate ? vocoder::articulateSse2 : vocoder::processSse2;
}

}  // namespace

VocoderBank::VocoderBank(const TMSystemInfo& info) : info_(info), isa_(bestIsa()) {
    // Middle settings until the owner sends its values: bands spread, no shift.
    setResponse(0.5f);
    setFocus(0.5f);
    setShift(0.5f);
    applyPending();
}

bool VocoderBank::isaSupported(vocoder::Isa isa) {
    switch (isa) {
        case vocoder::Isa::Sse2:
            return true;
        case vocoder::Isa::Avx2:
            return __builtin_cpu_supports("avx2");
        case vocoder::Isa::Avx512:
            return __builtin_cpu_supports("avx512f");
    }
    return false;
}

vocoder::Isa VocoderBank::bestIsa() {
    if (isaSupported(vocoder::Isa::Avx512)) return vocoder::Isa::Avx512;
    if (isaSupported(vocoder::Isa::Avx2)) return vocoder::Isa::Avx2;
    return vocoder::Isa::Sse2;
}

void VocoderBank::registerHistory(StateRegistry& registry) {
    // Everything after the coefficients: the three banks' filters and both followers.
    auto* first = reinterpret_cast<char*>(&state_.synthesis);
    auto* end = reinterpret_cast<char*>(&state_) + sizeof state_;
    registry.add(first, static_cast<uint32_t>(end - first));
}

void VocoderBank::setIsa(vocoder::Isa isa) {
    isa_ = isaSupported(isa) ? isa : vocoder::Isa::Sse2;
}

float VocoderBank::load(const std::array<float, kBands>& a, int k) {
    // The arrays are never const objects; atomic_ref needs a mutable reference even to load.
    return std::atomic_ref<float>(const_cast<float&>(a[static_cast<size_t>(k)]))
        .load(std::memory_order_relaxed);
}

void VocoderBank::store(std::array<float, kBands>& a, int k, float v) {
    std::atomic_ref<float>(a[static_cast<size_t>(k)]).store(v, std::memory_order_relaxed);
}

void VocoderBank::updateRate() {
    setResponse(responseValue_.load(std::memory_order_relaxed));
    setFocus(focusValue_.load(std::memory_order_relaxed));
}

void VocoderBank::setFocus(float v) {
    v = clampUnit(v);
    focusValue_.store(v, std::memory_order_relaxed);
    const float w = law::focus(v);
    const float slots = info_.slotCount;
    for (int k = 0; k < kBands; ++k) {
        // Cubic spread of the coefficient: band 0 stays near 220 Hz, higher bands fan out
        // faster the larger the spacing, until they meet the coefficient limit of 1.
        const float e = 1.0f + static_cast<float>(k) * w;
        const float vk = e / slots;
        const float uk = std::clamp(vk * vk * vk + 1.0f / slots, 0.0f, 1.0f);
        store(staged_.u, k, uk);
    }
    spacing_.store(w, std::memory_order_relaxed);
    rebuildShift();
}

void VocoderBank::setShift(float v) {
    shift_.store(law::shift(clampUnit(v)), std::memory_order_relaxed);
    rebuildShift();
}

void VocoderBank::rebuildShift() {
    const float s = shift_.load(std::memory_order_relaxed);
    for (int k = 0; k < kBands; ++k) {
        // A band shifted below 0 gets coefficient 0: its filter passes nothing and holds.
        const float us = std::clamp(load(staged_.u, k) + s, 0.0f, 1.0f);
        store(staged_.uShifted, k, us);
    }
    rebuildCoefficients();
}

void VocoderBank::rebuildCoefficients() {
    const float rateScale = 44100.0f / info_.sampleRate;
    for (int k = 0; k < kBands; ++k) {
        // A band the rate factor would tune past its stable limit stays at that limit.
        const float limit = load(staged_.limit, k);
        store(staged_.fa, k, std::min(load(staged_.u, k) * rateScale, limit));
        store(staged_.fs, k, std::min(load(staged_.uShifted, k) * rateScale, limit));
    }
    rebuildArticulate();
    dirty_.store(true, std::memory_order_release);
}

float VocoderBank::articulateCentre(int k) const {
    return static_cast<float>(articulateCentreHz(k));
}

void VocoderBank::rebuildArticulate() {
    const double rate = info_.sampleRate;
    // The shift moves the synthesis bands by the same frequency as in the classic bank, where
    // a coefficient of 1 is about 7350 Hz.
    const double shiftHz = static_cast<double>(shift_.load(std::memory_order_relaxed)) * 7350.0;
    for (int k = 0; k < kBands; ++k) {
        const double hz = articulateCentreHz(k);
        const float q = articulateDamping(k);
        store(staged_.artQ, k, q);
        store(staged_.artFa, k, tuning(hz, rate, q));
        store(staged_.artFs, k, tuning(hz + shiftHz, rate, q));
        const double seconds = std::max(kFollowerSeconds, kFollowerPeriods / hz);
        const double keep = std::exp(-1.0 / (seconds * rate));
        // Each stage gains 1/q at the centre, so the two banks together gain 1/q^4. A band's
        // bandwidth, and with it what it passes of a broad spectrum, grows with q·hz while the
        // bands lie hz apart in proportion; q^4 / (q·sqrt(hz)) makes a flat carrier take on the
        // voice's own spectrum.
        const double weight = kArticulateLevel * std::pow(q, 3.0) / std::sqrt(hz / 1000.0);
        store(staged_.artKeep, k, static_cast<float>(keep));
        store(staged_.artTake, k, static_cast<float>((1.0 - keep) * weight));
    }
    const float consonants = consonants_.load(std::memory_order_relaxed);
    const float highF = tuning(kHighBandHz, rate, kHighBandDamping);
    const bool highBandFits = std::asin(0.5 * highF) / std::numbers::pi * rate >= kLowestHighBandHz;
    highF_.store(highF, std::memory_order_relaxed);
    highGain_.store(highBandFits ? consonants * kHighBandLevel : 0.0f, std::memory_order_relaxed);
    noiseGain_.store(consonants * kNoiseLevel, std::memory_order_relaxed);
}

void VocoderBank::setArticulate(bool on) {
    articulate_.store(on, std::memory_order_relaxed);
    dirty_.store(true, std::memory_order_release);
}

void VocoderBank::setConsonants(float v) {
    consonants_.store(clampUnit(v), std::memory_order_relaxed);
    rebuildArticulate();
    dirty_.store(true, std::memory_order_release);
}

void VocoderBank::setResponse(float v) {
    v = clampUnit(v);
    responseValue_.store(v, std::memory_order_relaxed);
    const float t = law::response(v);     // release, 120 ms .. 10 ms
    const float a = 115.0f - (t - 5.0f);  // 0 .. 110
    const float r = std::clamp(std::pow(a / 120.0f, 0.4f), 0.0f, kMaxResonance);
    for (int k = 0; k < kBands; ++k) {
        const float rk = std::clamp(kResonanceShape[static_cast<size_t>(k)] * r, 0.0f, kMaxBandResonance);
        const float q1 = 1.0f - rk, q2 = 1.0f - kMaxBandResonance * rk;
        store(staged_.q1, k, q1);
        store(staged_.q2, k, q2);
        store(staged_.limit, k, stableBandCoefficient(std::max(q1, q2)));
    }
    // After a peak p the envelope falls by p·c per frame, reaching 0 after t ms.
    const float c = refinedReciprocal(t * info_.samplesPerMillisecond + 1e-9f);
    for (int k = 0; k < kBands; ++k) store(staged_.release, k, c);
    releaseMs_.store(t, std::memory_order_relaxed);
    resonance_.store(r, std::memory_order_relaxed);
    rebuildCoefficients();  // the damping moves each band's stable limit
}

void VocoderBank::applyPending() {
    if (!dirty_.exchange(false, std::memory_order_acquire)) return;
    vocoder::Coefficients& c = state_.coef;
    vocoder::ArticulateCoefficients& a = state_.articulate;
    for (int k = 0; k < kBands; ++k) {
        c.fa[k] = load(staged_.fa, k);
        c.fs[k] = load(staged_.fs, k);
        c.q1[k] = load(staged_.q1, k);
        c.q2[k] = load(staged_.q2, k);
        c.release[k] = load(staged_.release, k);
        a.fa[k] = load(staged_.artFa, k);
        a.fs[k] = load(staged_.artFs, k);
        a.q[k] = load(staged_.artQ, k);
        a.keep[k] = load(staged_.artKeep, k);
        a.take[k] = load(staged_.artTake, k);
    }
    a.emphasis = kCarrierEmphasis;
    a.highF = highF_.load(std::memory_order_relaxed);
    a.highQ = kHighBandDamping;
    a.highGain = highGain_.load(std::memory_order_relaxed);
    a.noiseGain = noiseGain_.load(std::memory_order_relaxed);
    const bool articulate = articulate_.load(std::memory_order_relaxed);
    if (articulate != running_) {
        // Everything after the coefficients: the filters, followers and the consonant path.
        state_.synthesis = {};
        state_.analysisLeft = {};
        state_.analysisRight = {};
        state_.left = {};
        state_.right = {};
        state_.consonant = {};
        running_ = articulate;
    }
}

bool VocoderBank::banksAgree() const {
    const vocoder::State& s = state_;
    return std::memcmp(&s.analysisLeft, &s.analysisRight, sizeof s.analysisLeft) == 0 &&
           std::memcmp(&s.left, &s.right, sizeof s.left) == 0 &&
           std::memcmp(s.consonant.high[0], s.consonant.high[1], sizeof s.consonant.high[0]) == 0;
}

void VocoderBank::controlBlock() {
    if (running_) {
        // The noise gate opens while the top of the bank holds more level than its bottom:
        // the hiss of s, sh, f and t, which a voiced carrier cannot give.
        const vocoder::FollowerState& f = state_.left;
        float voiced = 0.0f, hiss = 0.0f;
        for (int k = 0; k < kVoicedBands; ++k) voiced += f.env[k];
        for (int k = kHissStart; k < kBands; ++k) hiss += f.env[k];
        voiced /= static_cast<float>(kVoicedBands);
        hiss /= static_cast<float>(kBands - kHissStart);
        const float open = hiss > kGateOpensAt * voiced
                               ? std::min(1.0f, (hiss - kGateOpensAt * voiced) /
                                                    ((kGateOpenAt - kGateOpensAt) * voiced + 1e-20f))
                               : 0.0f;
        // The noise follows the carrier's level (its pre-emphasised RMS over the last block),
        // so the consonants keep their balance with any carrier at any level.
        vocoder::ConsonantState& c = state_.consonant;
        const float carrierRms = std::sqrt(c.carrierEnergy * info_.rampFactor);
        c.carrierEnergy = 0.0f;
        constexpr float kNoiseScale = 4.656612873077393e-10f;  // 2^-31: the signed noise to -1..1
        const float target = open * state_.articulate.noiseGain * carrierRms * kNoiseScale;
        c.gateStep = (target - c.gate) * info_.rampFactor;
        return;
    }
    switch (isa_) {
        case vocoder::Isa::Avx512:
            vocoder::stepsAvx512(state_, info_.rampFactor);
            break;
        case vocoder::Isa::Avx2:
            vocoder::stepsAvx2(state_, info_.rampFactor);
            break;
        case vocoder::Isa::Sse2:
            vocoder::stepsSse2(state_, info_.rampFactor);
            break;
    }
}

void VocoderBank::process(const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
                          float* outR, int32_t n) {
    const bool mono = anaL == anaR && (rightMirrorsLeft_ || banksAgree());
    kernelFor(isa_, running_)(state_, syn, anaL, anaR, offset, outL, outR, n, mono);
    rightMirrorsLeft_ = mono;
}

}  // namespace kf
