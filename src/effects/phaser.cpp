#include "effects/phaser.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/numeric.h"
#include "effects/dsp_util.h"
#include "effects/note_values.h"

namespace kf {
namespace {

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;

// All-pass sweep range in Hz (as a fraction of the Nyquist frequency below).
constexpr float kSweepLowHz = 440.0f;
constexpr float kSweepHighHz = 1600.0f;

// Sine of x in [-pi, pi) mapped to 0..1: a parabola refined once (error below 0.1%),
// cheap enough for the two evaluations per control block.
inline float sweepOf(float x) {
    const float s = (1.2732395f - 0.4052847f * std::fabs(x)) * x;
    return ((std::fabs(s) * s - s) * 0.225f + 1.0f + s) * 0.5f;
}

}  // namespace

TMPhaser::TMPhaser(int32_t ownerTag, TMSystemInfo* info, const NoteValueSet* noteValues)
    : TMEffect(ownerTag, info, kParameters) {
    noteValues_ = noteValues ? noteValues : &sharedNoteValues();
    setName("Phaser");
    // The values it starts with before any parameter is set.
    values_ = {0.2f, 0.7f, 0.7f, 0.7f, 0.5f};
    feedback_ = 0.85f * 0.7f;
    depth_ = 0.7f;
    stages_ = 5;
    wetGain_ = 0.0f;  // the mix target
    updateTiming(false);

    registerRegion(coeffL_, sizeof coeffL_);
    registerRegion(stateL_, sizeof stateL_);
    registerRegion(coeffR_, sizeof coeffR_);
    registerRegion(stateR_, sizeof stateR_);
    registerRegion(feedbackMemory_, sizeof feedbackMemory_);
    if (info_->tempoListeners) info_->tempoListeners->add(this);
}

TMPhaser::~TMPhaser() {
    if (info_->tempoListeners) info_->tempoListeners->remove(this);
    unregisterAllRegions();
}

const NoteValueList& TMPhaser::noteList() const {
    return noteValues_->list(syncTableIndex());
}

int32_t TMPhaser::noteIndexFor(float value) const {
    const NoteValueList& list = noteList();
    const int32_t e = truncToInt(clampUnit(value) * static_cast<float>(list.count - 1) + 0.5f);
    return std::clamp(e, 0, list.count - 1);
}

void TMPhaser::applyParameter(int32_t index, float value) {
    const float v = clampUnit(value);
    switch (static_cast<Param>(index)) {
        case Param::kRate:
            if (rateMode_ == kSyncedRate) {
                const double beats = noteList().at(noteIndexFor(value)).beats;
                // The period in whole samples; 0 ("Off") stops the LFO where it stands.
                const double period = std::trunc(static_cast<double>(info_->samplesPerBeat) * beats);
                if (period >= 1.0)
                    increment_ = kTwoPi / (static_cast<float>(period) / info_->controlInterval);
                else
                    increment_ = 0.0f;
            } else {
                const float blocksPerCycle = (1.0001f - v) * info_->sampleRate / info_->controlInterval;
                increment_ = std::min(kPi, kTwoPi / blocksPerCycle);
            }
            break;
        case Param::kFeedback:
            feedback_ = 0.85f * v;
            break;
        case Param::kDepth:
            depth_ = v;
            break;
        case Param::kStages: {
            const int32_t s = std::clamp(truncToInt(6.0f * v + 1.5f), 1, kMaxStages);
            if (s != stages_) {
                stages_ = s;
                reset();  // sections coming into use must not start from stale states
            }
            break;
        }
        case Param::kWidth:
            widthOffset_ = 0.5f * v;
            break;
    }
}

int32_t TMPhaser::setParameterMode(int32_t index, int32_t mode) {
    if (index == 0) rateMode_ = mode == kSyncedRate ? kSyncedRate : kFreeRate;
    return rateMode_;
}

void TMPhaser::reset() {
    std::memset(coeffL_, 0, sizeof coeffL_);
    std::memset(stateL_, 0, sizeof stateL_);
    std::memset(coeffR_, 0, sizeof coeffR_);
    std::memset(stateR_, 0, sizeof stateR_);
    feedbackMemory_[0] = feedbackMemory_[1] = 0.0f;
}

void TMPhaser::updateTiming(bool /*keepContent*/) {
    const float nyquist = 0.5f * info_->sampleRate;
    lowest_ = kSweepLowHz / nyquist;
    highest_ = kSweepHighHz / nyquist;
}

bool TMPhaser::start() {
    phase_ = 0.0f;
    increment_ = 0.0f;
    reset();
    controlTick();
    return true;
}

void TMPhaser::computeSweep() {
    const float offset = widthOffset_ * kPi;
    float right = phase_ + offset;
    if (right >= kPi) right = phase_ - kTwoPi + offset;
    const float angles[2] = {phase_, right};
    float* coeffs[2] = {coeffL_, coeffR_};
    for (int ch = 0; ch < 2; ++ch) {
        const float w = lowest_ + sweepOf(angles[ch]) * (highest_ - lowest_);
        const float a = (1.0f - w) / (1.0f + w);
        for (int32_t k = 0; k < stages_; ++k) coeffs[ch][k] = a;
    }
}

void TMPhaser::controlTick() noexcept {
    takeParameters();
    const float target = wetGain_;
    if (mixNow_ == 0.0f && target == 0.0f && mixStep_ == 0.0f) return;

    phase_ += increment_;
    if (phase_ >= kPi) phase_ -= kTwoPi;
    if (!(phase_ >= -kPi && phase_ < kPi))
        phase_ = std::remainder(phase_, kTwoPi);  // only if increment > 2 pi
    if (!(phase_ >= -kPi && phase_ < kPi)) phase_ = 0.0f;
    computeSweep();

    const float d = (target - mixNow_) * info_->rampFactor;
    if (d >= 1e-8f || d <= -1e-7f) {
        mixStep_ = d;
    } else {
        mixStep_ = 0.0f;
        mixNow_ = target;
    }
}

// Both channels' all-pass chains side by side, so their serial dependency chains overlap
// (the chain is latency-bound: each section needs the previous section's output).
template <bool kWetOnly>
void TMPhaser::runChains(float* left, float* right, int32_t count) {
    const float fb = feedback_, depth = depth_, step = mixStep_;
    const int32_t stages = stages_;
    const float* __restrict cl = coeffL_;
    const float* __restrict cr = coeffR_;
    float* __restrict zl = stateL_;
    float* __restrict zr = stateR_;
    float mix = mixNow_;
    float yl = feedbackMemory_[0], yr = feedbackMemory_[1];
    for (int32_t n = 0; n < count; ++n) {
        const float inL = left[n], inR = right[n];
        float xl = sanitize(inL) + kEffectAntiDenormal + fb * yl;
        float xr = sanitize(inR) + kEffectAntiDenormal + fb * yr;
        for (int32_t k = 0; k < stages; ++k) {
            const float al = cl[k], ar = cr[k];
            yl = zl[k] - al * xl;
            yr = zr[k] - ar * xr;
            zl[k] = xl + kEffectAntiDenormal + al * yl;
            zr[k] = xr + kEffectAntiDenormal + ar * yr;
            xl = yl;
            xr = yr;
        }
        if constexpr (kWetOnly) {
            left[n] = 0.75f * (inL + kEffectAntiDenormal) + depth * yl;
            right[n] = 0.75f * (inR + kEffectAntiDenormal) + depth * yr;
        } else {
            mix += step;
            left[n] = mix * (0.75f * (inL + kEffectAntiDenormal) + depth * yl) + (1.0f - mix) * inL;
            right[n] = mix * (0.75f * (inR + kEffectAntiDenormal) + depth * yr) + (1.0f - mix) * inR;
        }
    }
    feedbackMemory_[0] = yl;
    feedbackMemory_[1] = yr;
    if constexpr (!kWetOnly) mixNow_ = mix;
}

int32_t TMPhaser::process(float* left, float* right, int32_t count) noexcept {
    takeParameters();
    if (mixNow_ == 0.0f) {
        if (mixStep_ == 0.0f) return count;  // silent and idle: the input passes untouched
        // Fading in from zero: start from a clean chain rather than from old history.
        std::memset(stateL_, 0, sizeof stateL_);
        std::memset(stateR_, 0, sizeof stateR_);
        feedbackMemory_[0] = feedbackMemory_[1] = 0.0f;
        phase_ = 0.0f;
    }
    if (count < 1) return 0;
    runChains<false>(left, right, count);
    return count;
}

int32_t TMPhaser::processWet(float* left, float* right, int32_t count) noexcept {
    takeParameters();
    if (count < 1) return 0;
    runChains<true>(left, right, count);
    return count;
}

void TMPhaser::getParameterDisplay(int32_t index, float value, char* text) const {
    text[0] = '\0';
    switch (index) {
        case 0:
            if (rateMode_ == kSyncedRate)
                std::snprintf(text, kParameterNameChars, "%s", noteList().at(noteIndexFor(value)).name);
            else
                std::snprintf(text, kParameterNameChars, "%3.2f", static_cast<double>(100.0f * value));
            break;
        case 3:
            std::snprintf(text, kParameterNameChars, "%d Stages", truncToInt(6.0f * value + 1.5f));
            break;
        case 1:
        case 2:
        case 4:
            std::snprintf(text, kParameterNameChars, "%3.2f %%", static_cast<double>(100.0f * value));
            break;
        default:
            break;
    }
}

void TMPhaser::fillParameterMenu(int32_t index, ParameterMenu& menu) const {
    if (index == 0) {
        const NoteValueList& list = noteList();
        for (int32_t i = 0; i < list.count; ++i) menu.addEntry(list.at(i).name);
    } else if (index == 3) {
        char text[kParameterNameChars];
        for (int s = 1; s <= kMaxSections; ++s) {
            std::snprintf(text, sizeof text, "%d Stage", s);
            menu.addEntry(text);
        }
    }
}

float TMPhaser::getParameterSteps(int32_t index) const {
    if (index == 0) return noteList().countFloat;
    if (index == 3) return static_cast<float>(kMaxSections);
    return 0.0f;
}

}  // namespace kf
