#include "effects/lofi.h"

#include <cmath>
#include <cstdio>

#include "common/numeric.h"
#include "effects/dsp_util.h"

namespace kf {
namespace {

// The filter coefficients are single-precision constants widened to double: the
// pre-filter removes the lows before the clipper, the post-filter keeps its upper band.
constexpr double kPreFilterK = static_cast<double>(0.011859f);
constexpr double kPostFilterK = static_cast<double>(0.38f);
constexpr float kClipInputGain = 50.0f;
constexpr float kClipLimit = 2.5f;
constexpr float kDistortionLevel = 0.1f;
constexpr float kFinestStep = 1e-30f;

// Shared by every instance, like the C library's generator; an atomic so concurrent
// instances are free of data races (the sequence they see interleaves, which is harmless).
std::atomic<int32_t> gNoiseSeed{645637};

inline int32_t parkMiller(int32_t seed) {
    return static_cast<int32_t>((static_cast<int64_t>(seed) * 16807) % 2147483647);
}

inline float noiseOf(int32_t seed) {
    return static_cast<float>(seed) * 4.656613e-10f * 0.5f + 0.5f;
}

inline float softClip(float u) {
    if (std::fabs(u) > kClipLimit) return u > 0.0f ? kClipLimit : -kClipLimit;
    return (1.0f - 0.125f * std::fabs(u)) * u;
}

}  // namespace

float TMLofi::nextNoise() {
    const int32_t s = parkMiller(gNoiseSeed.load(std::memory_order_relaxed));
    gNoiseSeed.store(s, std::memory_order_relaxed);
    return noiseOf(s);
}

void TMLofi::seedNoise(int32_t seed) {
    // 0 and multiples of the modulus would lock the generator at 0.
    int32_t s = static_cast<int32_t>(static_cast<int64_t>(seed) % 2147483647);
    if (s <= 0) s += 2147483646;
    gNoiseSeed.store(s, std::memory_order_relaxed);
}

TMLofi::TMLofi(int32_t ownerTag, TMSystemInfo* info) : TMEffect(ownerTag, info, kParameters) {
    setName("Lofi");
    registerRegion(preL_.stateData(), fx::StateVariableFilter::stateBytes());
    registerRegion(preR_.stateData(), fx::StateVariableFilter::stateBytes());
    registerRegion(postL_.stateData(), fx::StateVariableFilter::stateBytes());
    registerRegion(postR_.stateData(), fx::StateVariableFilter::stateBytes());
    registerRegion(heldSample_, sizeof heldSample_);
    reset();
}

TMLofi::~TMLofi() {
    unregisterAllRegions();
}

void TMLofi::setFilterCoefficients() {
    preL_.setCoefficient(kPreFilterK);
    preR_.setCoefficient(kPreFilterK);
    postL_.setCoefficient(kPostFilterK);
    postR_.setCoefficient(kPostFilterK);
}

void TMLofi::reset() {
    // The engine's set-up re-sends the host parameters right after, so the coarse step
    // here never reaches the output.
    quantisationStep_ = 1.0f;
    distortion_ = 0.5f;
    noiseLevel_ = 0.0f;
    holdLength_ = 0;
    holdCounter_ = 0;
    heldSample_[0] = heldSample_[1] = 0.0f;
    preL_.clearAll();
    preR_.clearAll();
    postL_.clearAll();
    postR_.clearAll();
    setFilterCoefficients();
}

void TMLofi::applyParameter(int32_t index, float value) {
    const float v = clampUnit(value);
    switch (static_cast<Param>(index)) {
        case Param::kBits:
            // Steps this fine change nothing audible, and a tinier one would overflow the
            // division for loud input; treat them as "no quantisation".
            quantisationStep_ = 0.35f * v;
            if (quantisationStep_ < kFinestStep) quantisationStep_ = 0.0f;
            break;
        case Param::kSampleRate:
            holdLength_ = holdLengthFor(v);
            break;
        case Param::kNoise:
            noiseLevel_ = v * v;
            break;
        case Param::kDistortion:
            distortion_ = v;
            break;
    }
}

template <bool kWetOnly>
int32_t TMLofi::run(float* left, float* right, int32_t count) {
    if (count < 1) return 0;
    const float step = quantisationStep_, noise = noiseLevel_, dist = distortion_;
    const float wet = wetGain_, dry = dryGain_;
    const int32_t holdLength = holdLength_;
    int32_t counter = holdCounter_;
    float heldL = heldSample_[0], heldR = heldSample_[1];
    int32_t seed = gNoiseSeed.load(std::memory_order_relaxed);

    for (int32_t n = 0; n < count; ++n) {
        const float xl = left[n] + kEffectAntiDenormal;
        const float xr = right[n] + kEffectAntiDenormal;
        float l = sanitize(xl);
        float r = sanitize(xr);
        if (noise != 0.0f) {
            seed = parkMiller(seed);
            const float nz = 2.0f * noiseOf(seed) - 1.0f;
            l = (1.0f - noise) * l + noise * nz;
            r = (1.0f - noise) * r + noise * (1.0f - nz);
        }
        if (counter < 1) {
            counter = holdLength;
            heldL = l;
            heldR = r;
        } else {
            l = heldL;
            r = heldR;
        }
        --counter;
        if (step > 0.0f) {
            // Truncation toward zero, so small values fall to 0; a true division keeps
            // exact multiples of the step on their own level.
            l = step * std::trunc(l / step);
            r = step * std::trunc(r / step);
        }
        const float cl =
            softClip(static_cast<float>(preL_.highPass(static_cast<double>(kClipInputGain * l))));
        const float cr =
            softClip(static_cast<float>(preR_.highPass(static_cast<double>(kClipInputGain * r))));
        const float vl = static_cast<float>(postL_.highPass(static_cast<double>(cl)));
        const float vr = static_cast<float>(postR_.highPass(static_cast<double>(cr)));
        l = (1.0f - dist) * l + kDistortionLevel * dist * vl;
        r = (1.0f - dist) * r + kDistortionLevel * dist * vr;
        if constexpr (kWetOnly) {
            left[n] = l;
            right[n] = r;
        } else {
            left[n] = l * wet + xl * dry;
            right[n] = r * wet + xr * dry;
        }
    }
    holdCounter_ = counter;
    heldSample_[0] = heldL;
    heldSample_[1] = heldR;
    if (noise != 0.0f) gNoiseSeed.store(seed, std::memory_order_relaxed);
    return count;
}

int32_t TMLofi::process(float* left, float* right, int32_t count) noexcept {
    takeParameters();
    if (wetGain_ == 0.0f) return count;  // fully dry: the buffers already hold the output
    return run<false>(left, right, count);
}

int32_t TMLofi::processWet(float* left, float* right, int32_t count) noexcept {
    takeParameters();
    return run<true>(left, right, count);
}

void TMLofi::getParameterDisplay(int32_t index, float value, char* text) const {
    text[0] = '\0';
    if (index == 0)
        std::snprintf(text, kParameterNameChars, "%3d", truncToInt(32.0f * value));
    else if (index == 1 || index == 2)
        std::snprintf(text, kParameterNameChars, "%3.2f", static_cast<double>(100.0f * value));
}

}  // namespace kf
