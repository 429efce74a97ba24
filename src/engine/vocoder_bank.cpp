#include "engine/vocoder_bank.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>

#include "common/numeric.h"

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

vocoder::FrameKernel kernelFor(vocoder::Isa isa) {
    switch (isa) {
        case vocoder::Isa::Avx512:
            return vocoder::processAvx512;
        case vocoder::Isa::Avx2:
            return vocoder::processAvx2;
        case vocoder::Isa::Sse2:
            break;
    }
    return vocoder::processSse2;
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
    const float w = 0.1f + 1.9f * v;
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
    shift_.store(0.25f * clampUnit(v) - 0.125f, std::memory_order_relaxed);
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
    dirty_.store(true, std::memory_order_release);
}

void VocoderBank::setResponse(float v) {
    v = clampUnit(v);
    responseValue_.store(v, std::memory_order_relaxed);
    const float t = 120.0f - 110.0f * v;  // release, 120 ms .. 10 ms
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
    for (int k = 0; k < kBands; ++k) {
        c.fa[k] = load(staged_.fa, k);
        c.fs[k] = load(staged_.fs, k);
        c.q1[k] = load(staged_.q1, k);
        c.q2[k] = load(staged_.q2, k);
        c.release[k] = load(staged_.release, k);
    }
}

void VocoderBank::controlBlock() {
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
    kernelFor(isa_)(state_, syn, anaL, anaR, offset, outL, outR, n);
}

}  // namespace kf
