#include "engine/synth_controls.h"

#include <algorithm>
#include <cmath>

#include "common/fp_safety.h"
#include "common/numeric.h"
#include "common/parameter_table.h"

namespace kf {

namespace {
// Choice blend between neighbouring table entries: low, high and the fraction between.
void crossfade(float v, int32_t& low, int32_t& high, float& fraction) {
    low = truncToInt(v + 0.000001f);
    high = truncToInt(v + 0.999999f);
    fraction = v - std::trunc(v);
}
}  // namespace

void SynthControls::applyPending() {
    const uint32_t marks = inputs_.take();
    if (marks == 0) return;
    auto changed = [marks](Input i) { return ChangeMarks::has(marks, i); };
    // The same working values as on any other thread: processing runs under truncation.
    FpModeGuard nearest(FpRounding::kNearest);

    if (changed(kWaveform)) {
        waveform_ = law::waveform(input(kWaveform));
        crossfade(waveform_, waveLow_, waveHigh_, waveFraction_);
        // The slot order {1, 2, 3, 4, 1, 1} wraps position 4 back to the first slot.
        waveLow_ = std::clamp(waveLow_, 0, 5);
        waveHigh_ = std::clamp(waveHigh_, 0, 5);
    }
    if (changed(kPulseWidth)) {
        pulseWidth_ = law::pulseWidth(input(kPulseWidth));
        warp_ = 0.98f * pulseWidth_;
        updateWarp();
    }
    if (changed(kNoise)) {
        noise_ = input(kNoise);
        crossfade(noise_, noiseLow_, noiseHigh_, noiseFraction_);
        noiseLow_ = std::clamp(noiseLow_, 0, 2);
        noiseHigh_ = std::clamp(noiseHigh_, 0, 2);
    }
    if (changed(kCutoff)) {
        cutoff_ = law::cutoff(input(kCutoff));
        cutoffPow4_ = cutoff_ * cutoff_ * cutoff_ * cutoff_;
        filterF_ = cutoffPow4_ * (44100.0f / info_.sampleRate);
    }
    if (changed(kResonance)) {
        resonance_ = law::resonance(input(kResonance));
        filterQ_ = 1.0f - resonance_;
    }
    // Negative values pick the first type rather than an index outside the table.
    if (changed(kFilterType)) filterType_ = std::max(truncToInt(law::filterType(input(kFilterType))), 0);
    if (changed(kLevel)) level_ = input(kLevel);
    if (changed(kOctave)) octave_ = law::octave(input(kOctave));
    if (changed(kBendRange)) bendRange_ = law::bendRange(input(kBendRange));
    if (changed(kBend)) bend_ = law::bend(input(kBend));

    if (changed(kBendRange) || changed(kBend)) bendOffset_ = bend_ * bendRange_;
    if (changed(kOctave) || changed(kBendRange) || changed(kBend)) updatePitches();
    if (changed(kNoise) || changed(kLevel)) updateGains();
}

void SynthControls::updateWarp() {
    for (SynthVoice& voice : voices_) {
        voice.split = (1.0f - warp_) / 2.0f;
        voice.slopeBelow = 0.5f / voice.split;
        voice.slopeAbove = 0.5f / (1.0f - voice.split);
        for (std::size_t s = 0; s < 4; ++s) voice.slotOffset[s] = kSlotOffsetScale[s] * warp_;
    }
}

void SynthControls::updatePitches() {
    const float transposeBy = bendOffset_ + octave_;
    for (SynthVoice& voice : voices_) {
        voice.pitch = std::clamp(voice.note + transposeBy, 1.0f, 127.0f);
        voice.increment = info_.frequencyOfNote(voice.pitch);
    }
}

void SynthControls::updateGains() {
    for (std::size_t i = 0; i < voices_.size(); ++i)
        voices_[i].gain = voices_[i].velocityWeight * level_ * kVoiceScale[i];
    noiseLevel_ = noise_ * 0.5f * level_ * info_.lastVelocityWeight;
}

}  // namespace kf
