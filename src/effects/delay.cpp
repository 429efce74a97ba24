#include "effects/delay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "effects/note_values.h"

namespace kf {
namespace {

constexpr int32_t kSyncedChoices = 15;  // the note-value list without its "Off" entry
constexpr int32_t kHighestNote = 126;

}  // namespace

TMDelay::TMDelay(int32_t ownerTag, TMSystemInfo* info) : TMEffect(ownerTag, info, kParameters) {
    setName("Delay");

    for (int c = 0; c < 2; ++c)
        registerRegion(cutoff_.channel(c).stateData(), fx::StateVariableFilter::stateBytes());
    capacity_ = capacityFor(info_->sampleRate);
    lineL_.resize(capacity_);
    lineR_.resize(capacity_);
    registerRegion(lineL_.data(), lineL_.bytes());
    registerRegion(lineR_.data(), lineR_.bytes());
    allocatedRate_ = info_->sampleRate;
    barLength_ = barLengthFor(info_->samplesPerBeat);
    if (info_->tempoListeners) info_->tempoListeners->add(this);
}

TMDelay::~TMDelay() {
    if (info_->tempoListeners) info_->tempoListeners->remove(this);
    unregisterAllRegions();
}

uint32_t TMDelay::barLengthFor(float samplesPerBeat) const {
    const float bar = 4.0f * samplesPerBeat;
    if (!(bar >= static_cast<float>(kMinBar))) return kMinBar;  // also catches NaN
    if (bar >= static_cast<float>(capacity_)) return std::max(capacity_, kMinBar);
    return static_cast<uint32_t>(bar);
}

uint32_t TMDelay::capacityFor(float sampleRate) {
    // The bar at the lowest tempo, computed exactly as TMSystemInfo computes samples per
    // beat, so no accepted tempo can ask for more.
    const float longestBeat = static_cast<float>(static_cast<double>(sampleRate) / (kLowestTempo / 60.0));
    const float longestBar = 4.0f * longestBeat;
    if (longestBar > static_cast<float>(kMinBar) && longestBar < 16.0e6f)
        return static_cast<uint32_t>(longestBar);
    return kMinBar;
}

void TMDelay::prepareSampleRate(float sampleRate) {
    if (sampleRate == allocatedRate_ || sampleRate == preparedRate_) return;
    // Lines prepared for another rate are of no further use; freeing them first keeps the
    // peak memory at the lines in use plus one new pair.
    preparedL_.resize(0);
    preparedR_.resize(0);
    preparedRate_ = 0.0f;
    const uint32_t cap = capacityFor(sampleRate);
    fx::AlignedBuffer left(cap), right(cap);  // a throw here frees whichever was made
    preparedL_.swap(left);
    preparedR_.swap(right);
    preparedRate_ = sampleRate;
}

void TMDelay::useLinesFor(float sampleRate) {
    prepareSampleRate(sampleRate);
    // Nothing below allocates, so the lines and their registration change together.
    replaceRegion(lineL_.data(), preparedL_.data(), preparedL_.bytes());
    replaceRegion(lineR_.data(), preparedR_.data(), preparedR_.bytes());
    lineL_.swap(preparedL_);
    lineR_.swap(preparedR_);
    preparedL_.resize(0);  // the old lines
    preparedR_.resize(0);
    preparedRate_ = 0.0f;
    capacity_ = static_cast<uint32_t>(lineL_.size());
    allocatedRate_ = sampleRate;
    barLength_ = std::min(barLength_, capacity_);
    wrapPositions();
}

void TMDelay::wrapPositions() {
    const uint32_t n = barLength_;
    if (writeIndex_ < 0) writeIndex_ = 0;
    writeIndex_ = static_cast<int32_t>(static_cast<uint32_t>(writeIndex_) % n);
    const double nd = static_cast<double>(n);
    double p = readPosition_;
    if (!(p >= 0.0 && p < nd)) {
        p = std::fmod(p, nd);
        if (p < 0.0) p += nd;
        if (!(p >= 0.0 && p < nd)) p = 0.0;  // NaN, or rounding onto nd
    }
    readPosition_ = p;
}

int32_t TMDelay::delayLengthFor(float value) const {
    const float v = clampUnit(value);
    const int32_t longest = static_cast<int32_t>(barLength_) - 1;
    float samples;
    switch (delayTimeMode_) {
        case kSyncedTime: {
            const NoteValueList& list = sharedNoteValues().list(0);
            const int32_t e =
                1 + std::min(kSyncedChoices - 1, static_cast<int32_t>(v * (kSyncedChoices - 1) + 0.5f));
            samples = static_cast<float>(static_cast<double>(info_->samplesPerBeat) * list.at(e).beats);
            break;
        }
        case kNoteTime: {
            const float note = static_cast<float>(static_cast<int32_t>(v * kHighestNote + 0.5f));
            samples = info_->sampleRate / info_->frequencyOfNote(note);
            break;
        }
        default:
            samples = v * static_cast<float>(longest);
            break;
    }
    if (!(samples < static_cast<float>(longest))) return longest;  // also catches NaN
    return std::max(kMinDelay, static_cast<int32_t>(samples));
}

void TMDelay::applyParameter(int32_t index, float value) {
    const float v = clampUnit(value);
    switch (static_cast<Param>(index)) {
        case Param::kTime: {
            delayLength_ = delayLengthFor(value);
            const double n = static_cast<double>(barLength_);
            if (glide_ == 0 || placeHead_) {
                placeHead_ = false;
                double p = static_cast<double>(writeIndex_ - delayLength_);
                if (p < 0.0) p += n;
                readPosition_ = p;
                readIncrement_ = 1.0f;
            } else {
                // Pick the speed that closes the gap to the new distance over one control
                // block; controlTick keeps correcting it until the heads are in place.
                double d = static_cast<double>(writeIndex_) - readPosition_;
                while (d < 0.0) d += n;
                readIncrement_ =
                    (static_cast<float>(d) + info_->controlInterval) /
                    static_cast<float>(static_cast<uint32_t>(delayLength_ + info_->controlIntervalInt));
            }
            break;
        }
        case Param::kFeedback:
            feedback_ = 0.98f * v;
            break;
        case Param::kWidth:
            width_ = v;
            oneMinusWidth_ = 1.0f - v;
            break;
        case Param::kCutoff:
            cutoff_.setCutoff(v);
            break;
    }
}

int32_t TMDelay::setParameterMode(int32_t index, int32_t mode) {
    if (index == 0 && mode >= kFreeTime && mode <= kNoteTime) delayTimeMode_ = mode;
    if (index == -1) glide_ = mode != 0 ? 1 : 0;
    if (delayTimeMode_ == kSyncedTime) readIncrement_ = 1.0f;
    return delayTimeMode_;
}

void TMDelay::reset() {
    width_ = 0.0f;
    oneMinusWidth_ = 1.0f;
    feedback_ = 0.5f;
    readPosition_ = 0.0;
    readIncrement_ = 1.0f;
    delayLength_ = 0;
    writeIndex_ = 0;
    placeHead_ = true;
    cutoff_.clearAll();
    std::memset(lineL_.data(), 0, barLength_ * sizeof(float));
    std::memset(lineR_.data(), 0, barLength_ * sizeof(float));
}

bool TMDelay::start() {
    const int32_t len = std::clamp(delayLength_, 0, static_cast<int32_t>(barLength_) - 1);
    std::memset(lineL_.data(), 0, static_cast<std::size_t>(len) * sizeof(float));
    std::memset(lineR_.data(), 0, static_cast<std::size_t>(len) * sizeof(float));
    readPosition_ = 0.0;
    writeIndex_ = len;
    readIncrement_ = 1.0f;
    return true;
}

void TMDelay::controlTick() noexcept {
    takeParameters();
    const int64_t n = barLength_;
    int64_t d = static_cast<int64_t>(static_cast<double>(writeIndex_) - readPosition_);
    while (d < 0) d += n;
    if (delayLength_ != d) {
        const int64_t interval = info_->controlIntervalInt;
        readIncrement_ = static_cast<float>(static_cast<uint32_t>(d + interval)) /
                         static_cast<float>(static_cast<uint32_t>(interval + delayLength_));
        // More than a block too close: slow the head much more, so the gap opens quickly.
        if (static_cast<float>(delayLength_ - d) > info_->controlInterval) readIncrement_ *= readIncrement_;
    }
}

void TMDelay::updateTiming(bool keepContent) {
    // A new sample rate comes only through the engine set-up run by the host's
    // sample-rate call, never from the audio thread's tempo handling.
    if (info_->sampleRate != allocatedRate_) useLinesFor(info_->sampleRate);

    const uint32_t bar = barLengthFor(info_->samplesPerBeat);
    if (bar != barLength_) {
        const uint32_t old = barLength_;
        barLength_ = bar;
        if (keepContent) {
            // The part of the line that comes into use held a longer bar's leftovers.
            if (bar > old) {
                std::memset(lineL_.data() + old, 0, (bar - old) * sizeof(float));
                std::memset(lineR_.data() + old, 0, (bar - old) * sizeof(float));
            }
            wrapPositions();
            applyParameter(static_cast<int32_t>(Param::kTime), parameterValue(0));
        } else {
            reset();
        }
    }
    wrapPositions();
}

template <bool kWetOnly>
int32_t TMDelay::run(float* left, float* right, int32_t count) {
    if (count < 1) return 0;
    const uint32_t n = barLength_;
    const double nd = static_cast<double>(n);
    wrapPositions();
    double pos = readPosition_;
    uint32_t w = static_cast<uint32_t>(writeIndex_);
    const double inc = readIncrement_;
    const float fb = feedback_, width = width_, keep = oneMinusWidth_;
    const float wet = wetGain_, dry = dryGain_;
    const bool filtered = !kWetOnly && cutoff_.active();
    float* lineL = lineL_.data();
    float* lineR = lineR_.data();

    for (int32_t s = 0; s < count; ++s) {
        const uint32_t i = static_cast<uint32_t>(pos);
        const uint32_t j = i + 1 == n ? 0 : i + 1;
        const float f = static_cast<float>(pos - static_cast<double>(i));
        const float dl = lineL[i] * (1.0f - f) + lineL[j] * f;
        const float dr = lineR[i] * (1.0f - f) + lineR[j] * f;
        const float inL = left[s], inR = right[s];
        if constexpr (kWetOnly) {
            lineL[w] = sanitize(inL) + kWetDelayAntiDenormal + fb * dl;
            lineR[w] = sanitize(inR) + kWetDelayAntiDenormal + fb * dr;
            left[s] = keep * dl + width * dr;
            right[s] = keep * dr + width * dl;
        } else {
            float el = dl, er = dr;
            if (filtered) cutoff_.process(el, er);
            el *= wet;
            er *= wet;
            // The feedback path takes the unfiltered echo.
            lineL[w] = sanitize(inL) + kEffectAntiDenormal + fb * dl;
            lineR[w] = sanitize(inR) + kEffectAntiDenormal + fb * dr;
            left[s] = keep * el + width * er + inL * dry;
            right[s] = keep * er + width * el + inR * dry;
        }
        if (++w == n) w = 0;
        pos += inc;
        while (pos >= nd) pos -= nd;
    }
    readPosition_ = pos;
    writeIndex_ = static_cast<int32_t>(w);
    return count;
}

int32_t TMDelay::process(float* left, float* right, int32_t count) noexcept {
    takeParameters();
    return run<false>(left, right, count);
}

int32_t TMDelay::processWet(float* left, float* right, int32_t count) noexcept {
    takeParameters();
    return run<true>(left, right, count);
}

void TMDelay::getParameterDisplay(int32_t index, float value, char* text) const {
    text[0] = '\0';
    if (!validIndex(index)) return;
    const float v = clampUnit(value);
    if (index == 0 && delayTimeMode_ == kSyncedTime) {
        const int32_t e =
            1 + std::min(kSyncedChoices - 1, static_cast<int32_t>(v * (kSyncedChoices - 1) + 0.5f));
        std::snprintf(text, kParameterNameChars, "%s", sharedNoteValues().list(0).at(e).name);
    } else if (index == 0 && delayTimeMode_ == kNoteTime) {
        std::snprintf(text, kParameterNameChars, "note %d", static_cast<int>(v * kHighestNote + 0.5f));
    } else {
        std::snprintf(text, kParameterNameChars, "%3.2f %%", static_cast<double>(100.0f * value));
    }
}

float TMDelay::getParameterSteps(int32_t index) const {
    return index == 0 && delayTimeMode_ == kNoteTime ? 127.0f : 0.0f;
}

}  // namespace kf
