#include "engine/synth_controls.h"

#include <algorithm>
#include <cmath>

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

void SynthControls::setWaveform(float v) {
    waveform_ = law::waveform(v);
    crossfade(waveform_, waveLow_, waveHigh_, waveFraction_);
    // The slot order {1, 2, 3, 4, 1, 1} wraps position 4 back to the first slot.
    waveLow_ = std::clamp(waveLow_, 0, 5);
    waveHigh_ = std::clamp(waveHigh_, 0, 5);
}

void SynthControls::setPulseWidth(float v) {
    pulseWidth_ = law::pulseWidth(v);
    warp_ = 0.98f * pulseWidth_;
    updateWarp();
}

void SynthControls::updateWarp() {
    for (SynthVoice& voice : voices_) {
        voice.split = (1.0f - warp_) / 2.0f;
        voice.slopeBelow = 0.5f / voice.split;
        voice.slopeAbove = 0.5f / (1.0f - voice.split);
        for (std::size_t s = 0; s < 4; ++s) voice.slotOffset[s] = kSlotOffsetScale[s] * warp_;
    }
}

void SynthControls::setNoise(float v) {
    noise_ = v;
    crossfade(v, noiseLow_, noiseHigh_, noiseFraction_);
    noiseLow_ = std::clamp(noiseLow_, 0, 2);
    noiseHigh_ = std::clamp(noiseHigh_, 0, 2);
    updateGains();
}

void SynthControls::setCutoff(float v) {
    cutoff_ = law::cutoff(v);
    cutoffPow4_ = cutoff_ * cutoff_ * cutoff_ * cutoff_;
    cutoffHz_ = cutoffPow4_ * 0.0005f * info_.sampleRate;
    filterF_ = cutoffPow4_ * (44100.0f / info_.sampleRate);
}

void SynthControls::setResonance(float v) {
    resonance_ = law::resonance(v);
    filterQ_ = 1.0f - resonance_;
}

// Negative values pick the first type rather than an index outside the table.
void SynthControls::setFilterType(float v) {
    filterType_ = std::max(truncToInt(law::filterType(v)), 0);
}

void SynthControls::setLevel(float v) {
    level_ = v;
    levelDb_ = decibels(v);
    updateGains();
}

void SynthControls::setOctave(float v) {
    octave_ = law::octave(v);
    updatePitches();
}

void SynthControls::setBendRange(float v) {
    bendRange_ = law::bendRange(v);
    bendOffset_ = bend_ * bendRange_;
    updatePitches();
}

void SynthControls::setBend(float v) {
    bend_ = law::bend(v);
    bendOffset_ = bend_ * bendRange_;
    updatePitches();
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
