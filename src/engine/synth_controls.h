// Working values of the carrier synthesizer that parameters set: waveform morph
// position, pulse-width warp per voice, noise blend, filter, level and pitch. The
// per-sample oscillator reads these; everything that needs a division is done here.
//
// Threads: the parameter setters may run on any thread and only hand their value over; the
// audio thread derives every working value (applyPending, and the note handling through
// updatePitches and updateGains), so a voice's pitch and gain always follow its note and the
// latest parameters, whichever thread set them last.
#pragma once

#include <array>
#include <cstdint>

#include "common/change_marks.h"
#include "common/numeric.h"
#include "common/system_info.h"

namespace kf {

struct SynthVoice {
    float note = 0.0f;
    float velocityWeight = 0.0f;
    float pitch = 1.0f;
    float increment = 0.0f;  // Hz, from the note frequency table
    float phase = 0.0f;
    float split = 0.5f;       // h: fraction of the period that plays the first half-cycle
    float slopeBelow = 1.0f;  // 0.5 / h
    float slopeAbove = 1.0f;  // 0.5 / (1 - h)
    std::array<float, 4> slotOffset{};
    float gain = 0.0f;  // the voice's gain to be; the synthesizer ramps to it
};

class SynthControls {
  public:
    static constexpr int kVoices = 4;
    // DC offsets each wave slot adds per unit of warp, the same for every voice: the mean of the
    // wave's first half-cycle, which the warp stretches or squeezes (the sine's is 2/pi). The
    // square's flat top gives it the large value and the falling saw the small one.
    static constexpr std::array<float, 4> kSlotOffsetScale = {0.6366178f, 0.8363705f, 0.4505014f, 0.4632677f};
    // Each oscillator's fixed share of the level; the fourth voice plays at half of it.
    static constexpr std::array<float, 4> kVoiceScale = {1.0f, 1.0f, 1.0f, 0.5f};

    explicit SynthControls(const TMSystemInfo& info) : info_(info) {}

    // Normalised parameter values; any thread.
    void setWaveform(float v) { hand(kWaveform, v); }      // morph position 0-4 in steps of 0.01
    void setPulseWidth(float v) { hand(kPulseWidth, v); }  // p = 2v - 1, warp p' = 0.98p
    void setNoise(float v) { hand(kNoise, v); }            // 0 oscillators only, 1 noise only
    void setCutoff(float v) { hand(kCutoff, v); }          // c = 0.3 + 0.69v, coefficient c^4 at 44100 Hz
    void setResonance(float v) { hand(kResonance, v); }    // damping 1 - 0.9v
    void setFilterType(float v) { hand(kFilterType, v); }  // 0 high-pass, 1 band-pass, 2 low-pass
    void setLevel(float v) { hand(kLevel, v); }            // linear level; voice gains and noise follow
    void setOctave(float v) { hand(kOctave, v); }          // -24, -12, 0, 12 or 24 semitones
    void setBendRange(float v) { hand(kBendRange, v); }    // whole semitones 0-12
    void setBend(float v) { hand(kBend, v); }              // bend -1 to 1 from normalised 0-1

    // Audio thread: the working values of every parameter set since the last call.
    void applyPending();
    // Audio thread: voice pitches and increments from notes, octave and bend.
    void updatePitches();
    // Audio thread: gains from the voices' velocity weights and the level; noise level from
    // the last weight.
    void updateGains();

    float waveform() const { return waveform_; }
    int32_t waveLow() const { return waveLow_; }
    int32_t waveHigh() const { return waveHigh_; }
    float waveFraction() const { return waveFraction_; }
    float pulseWidth() const { return pulseWidth_; }
    float warp() const { return warp_; }
    int32_t noiseLow() const { return noiseLow_; }
    int32_t noiseHigh() const { return noiseHigh_; }
    float noiseFraction() const { return noiseFraction_; }
    float noiseLevel() const { return noiseLevel_; }
    float cutoff() const { return cutoff_; }
    float cutoffHz() const { return cutoffPow4_ * 0.0005f * info_.sampleRate; }  // for displays
    float cutoffPow4() const { return cutoffPow4_; }
    float filterCoefficient() const { return filterF_; }
    float filterDamping() const { return filterQ_; }
    int32_t filterType() const { return filterType_; }
    float level() const { return level_; }
    float levelDb() const { return decibels(level_); }
    float noisePercent() const { return noise_ * 100.0f; }
    float resonancePercent() const { return resonance_ * 100.0f; }
    float octave() const { return octave_; }
    float bendRange() const { return bendRange_; }
    float bend() const { return bend_; }
    float bendOffset() const { return bendOffset_; }
    float transpose() const { return bendOffset_ + octave_; }
    const SynthVoice& voice(int i) const { return voices_[static_cast<std::size_t>(i)]; }
    SynthVoice& voice(int i) { return voices_[static_cast<std::size_t>(i)]; }

  private:
    enum Input : int {
        kWaveform,
        kPulseWidth,
        kNoise,
        kCutoff,
        kResonance,
        kFilterType,
        kLevel,
        kOctave,
        kBendRange,
        kBend,
        kInputs
    };
    void hand(Input i, float v) { inputs_.set(i, v); }
    float input(Input i) const { return inputs_.value(i); }
    void updateWarp();

    const TMSystemInfo& info_;
    HandedOverValues<kInputs> inputs_;
    std::array<SynthVoice, kVoices> voices_{};
    float waveform_ = 0.0f;
    int32_t waveLow_ = 0, waveHigh_ = 0;
    float waveFraction_ = 0.0f;
    float pulseWidth_ = 0.0f, warp_ = 0.0f;
    float noise_ = 0.0f;
    int32_t noiseLow_ = 0, noiseHigh_ = 0;
    float noiseFraction_ = 0.0f, noiseLevel_ = 0.0f;
    float cutoff_ = 0.3f, cutoffPow4_ = 0.0081f, filterF_ = 0.0081f, filterQ_ = 1.0f;
    int32_t filterType_ = 0;
    float level_ = 0.0f, resonance_ = 0.0f;
    float octave_ = 0.0f, bendRange_ = 0.0f, bend_ = 0.0f, bendOffset_ = 0.0f;
};

}  // namespace kf
