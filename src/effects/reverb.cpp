#include "effects/reverb.h"

#include <algorithm>
#include <cstdio>

namespace kf {
namespace {

// Each line starts on a 32-byte boundary inside the one shared allocation.
constexpr int32_t padded(int32_t n) {
    return (n + 7) & ~7;
}

}  // namespace

TMReverb::TMReverb(int32_t ownerTag, TMSystemInfo* info) : TMEffect(ownerTag, info, kParameters) {
    setName("Reverb");

    int32_t total = 0;
    for (int ch = 0; ch < 2; ++ch) {
        for (int c = 0; c < kCombs; ++c) total += padded(kCombLengths[c] + ch * kStereoSpread);
        for (int a = 0; a < kAllPasses; ++a) total += padded(kAllPassLengths[a] + ch * kStereoSpread);
    }
    lines_.resize(static_cast<std::size_t>(total));
    float* p = lines_.data();
    for (int ch = 0; ch < 2; ++ch) {
        Channel& c = channels_[ch];
        for (int i = 0; i < kCombs; ++i) {
            c.combLength[i] = kCombLengths[i] + ch * kStereoSpread;
            c.combIndex[i] = 0;
            c.comb[i] = p;
            p += padded(c.combLength[i]);
        }
        for (int i = 0; i < kAllPasses; ++i) {
            c.allPassLength[i] = kAllPassLengths[i] + ch * kStereoSpread;
            c.allPassIndex[i] = 0;
            c.allPass[i] = p;
            p += padded(c.allPassLength[i]);
        }
    }
    registerRegion(lines_.data(), lines_.bytes());
    registerRegion(combLowPass_, sizeof combLowPass_);
    for (int c = 0; c < 2; ++c)
        registerRegion(cutoff_.channel(c).stateData(), fx::StateVariableFilter::stateBytes());

    // Working values until the host's parameters arrive: a third of full strength, full
    // width, a room of 0.84 and no damping.
    strength_ = 1.0f / 3.0f;
    width_ = 1.0f;
    roomSize_ = 0.84f;
    damp_ = 0.0f;
    updateWetGains();
}

TMReverb::~TMReverb() {
    unregisterAllRegions();
}

void TMReverb::controlTick() noexcept {
    takeParameters();
    updateWetGains();
}

void TMReverb::updateWetGains() {
    undamped_ = 1.0f - damp_;
    wetSame_ = strength_ * (0.5f * width_ + 0.5f);
    wetCross_ = strength_ * (1.0f - width_) * 0.5f;
}

void TMReverb::applyParameter(int32_t index, float value) {
    const float v = clampUnit(value);  // out-of-range values must not make the combs unstable
    switch (static_cast<Param>(index)) {
        case Param::kSize:
            roomSize_ = 0.28f * v + 0.7f;
            break;
        case Param::kStrength:
            strength_ = 3.0f * v;
            updateWetGains();
            break;
        case Param::kDamp:
            damp_ = 0.4f * v;
            updateWetGains();
            break;
        case Param::kWidth:
            width_ = v;
            updateWetGains();
            break;
        case Param::kCutoff:
            cutoff_.setCutoff(v);
            break;
    }
}

void TMReverb::applyDryWet(float mix) {
    wetGain_ = mix;
    dryGain_ = 1.0f - mix;
}

void TMReverb::reset() {
    cutoff_.clearAll();
    lines_.clear();
    std::fill(std::begin(combLowPass_), std::end(combLowPass_), 0.0f);
    for (Channel& c : channels_) {
        std::fill(std::begin(c.combIndex), std::end(c.combIndex), 0);
        std::fill(std::begin(c.allPassIndex), std::end(c.allPassIndex), 0);
    }
}

inline float TMReverb::runChannel(Channel& ch, float* stores, float x) {
    const float damp = damp_, damp2 = undamped_, room = roomSize_;
    float sum = 0.0f;
    for (int c = 0; c < kCombs; ++c) {
        int32_t i = ch.combIndex[c] + 1;
        if (i >= ch.combLength[c]) i = 0;
        ch.combIndex[c] = i;
        const float o = ch.comb[c][i];
        const float s = o * damp2 + stores[c] * damp;
        stores[c] = s;
        ch.comb[c][i] = s * room + x;
        sum += o;
    }
    float a = sum;
    for (int k = 0; k < kAllPasses; ++k) {
        int32_t i = ch.allPassIndex[k] + 1;
        if (i >= ch.allPassLength[k]) i = 0;
        ch.allPassIndex[k] = i;
        const float b = ch.allPass[k][i];
        ch.allPass[k][i] = 0.5f * b + a;
        a = b - a;
    }
    return a;
}

template <bool kWetOnly>
inline void TMReverb::run(float* left, float* right, int32_t count) {
    const float wetGain = wetGain_, dryGain = dryGain_, wet1 = wetSame_, wet2 = wetCross_, gain = inputGain_;
    const bool filtered = cutoff_.active();
    for (int32_t n = 0; n < count; ++n) {
        const float inL = left[n], inR = right[n];
        const float x = (sanitize(inL) + sanitize(inR)) * gain + kEffectAntiDenormal;
        const float rl = runChannel(channels_[0], combLowPass_, x);
        const float rr = runChannel(channels_[1], combLowPass_ + kCombs, x);
        float yl = wet1 * rl + wet2 * rr;
        float yr = wet1 * rr + wet2 * rl;
        if (filtered) cutoff_.process(yl, yr);
        if constexpr (kWetOnly) {
            left[n] = yl;
            right[n] = yr;
        } else {
            left[n] = yl * wetGain + inL * dryGain;
            right[n] = yr * wetGain + inR * dryGain;
        }
    }
}

int32_t TMReverb::processWet(float* left, float* right, int32_t count) noexcept {
    takeParameters();
    if (count < 1) return 0;
    run<true>(left, right, count);
    return count;
}

void TMReverb::clearLines(int32_t count) {
    for (Channel& ch : channels_) {
        for (int c = 0; c < kCombs; ++c) {
            int32_t i = ch.combIndex[c];
            for (int32_t n = 0; n < count; ++n) {
                if (++i >= ch.combLength[c]) i = 0;
                ch.comb[c][i] = 0.0f;
            }
            ch.combIndex[c] = i;
        }
        for (int k = 0; k < kAllPasses; ++k) {
            int32_t i = ch.allPassIndex[k];
            for (int32_t n = 0; n < count; ++n) {
                if (++i >= ch.allPassLength[k]) i = 0;
                ch.allPass[k][i] = 0.0f;
            }
            ch.allPassIndex[k] = i;
        }
    }
}

int32_t TMReverb::process(float* left, float* right, int32_t count) noexcept {
    takeParameters();
    if (count < 1) return 0;
    if (dryGain_ == 1.0f) {
        // Mix zero: the buffers already hold the output. Overwrite the lines with silence
        // index by index (cheap, and a later fade-in starts clean), then stop working.
        if (countdown_ < 0) return count;
        if (countdown_ == 0) {
            // The comb stores and output filters are history too: clear them at once, so a
            // later fade-in starts from true silence.
            countdown_ = kClearLength;
            std::fill(std::begin(combLowPass_), std::end(combLowPass_), 0.0f);
            cutoff_.clearState();
        }
        const int32_t n = std::min(count, countdown_);
        clearLines(n);
        countdown_ -= n;
        if (countdown_ == 0) countdown_ = -1;
        return count;
    }

    countdown_ = 0;
    run<false>(left, right, count);
    return count;
}

void TMReverb::getParameterDisplay(int32_t index, float value, char* text) const {
    if (validIndex(index))
        std::snprintf(text, kParameterNameChars, "%3.2f %%", static_cast<double>(100.0f * value));
    else
        text[0] = '\0';
}

}  // namespace kf
