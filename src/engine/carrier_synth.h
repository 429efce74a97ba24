// The carrier synthesizer's sound: four wavetable voices with a pulse-width phase warp and a
// morph between four waves, summed, blended with noise, run through one resonant state-variable
// filter and soft-clipped. There are no envelopes: a voice sounds at its note's velocity weight
// while the note is held. The parameter-derived working values live in SynthControls; this class
// holds the running state (voice gains, filter, noise position, last output) and does the
// per-sample work.
//
// A voice's gain never steps: when its note starts, stops or changes, or the level changes, it
// moves to the new value over one control block, as the engine's other gains do. A voice that
// takes a different note while sounding hands its old note to a fading copy of itself, and a
// held note that moves to another voice (the notes below it released) takes its phase along, so
// it plays on without a seam. The tables are read at the band-limited level that suits each
// voice's pitch.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/system_info.h"
#include "engine/held_notes.h"
#include "engine/synth_controls.h"
#include "engine/wavetables.h"

namespace kf {

// Gives the four lowest held notes to voices 1-4 (note 0, weight 0 for voices left over) and
// recomputes their pitches, increments and gains, and the noise level. Call after every note-on,
// note-off and all-notes-off, and at the end of the engine set-up.
void rebuildVoices(SynthControls& controls, std::span<const HeldNote, kHeldNoteSlots> slots);

// The four voices side by side, so that they run as one vector.
struct VoiceLanes {
    using Lane = std::array<float, SynthControls::kVoices>;
    alignas(16) Lane phase{}, step{}, split{}, slopeBelow{}, slopeAbove{}, lowOffset{},
        highOffset{}, gain{}, gainStep{};
    std::array<const WavePoint*, SynthControls::kVoices> low{}, high{};

    void copyVoice(const VoiceLanes& from, std::size_t v);
};

class CarrierSynth {
  public:
    static constexpr int32_t kNoiseTableSize = 1024;
    static constexpr float kClipLimit = 2.0f;
    static constexpr float kSoftClip = 0.25f;  // y (1 - k |y|) bends the clamped range to +-1

    // controls: the working values (voices, morph, warp, noise blend, filter), shared with the
    // parameter setters; the voice phases advance in it. info: inverse sample rate. noiseTable:
    // 1024 floats owned by the instance. All three must outlive the synthesizer. Builds the
    // wavetables if this is the first synthesizer of the process.
    CarrierSynth(SynthControls& controls, const TMSystemInfo& info, const float* noiseTable);

    // One frame; offset is this frame's anti-denormal offset (about 1e-8).
    float renderSample(float offset);
    // n consecutive frames into out (n may be 0). offset is the first frame's anti-denormal
    // offset; its sign flips every frame, exactly as n calls of renderSample would see it. The
    // working values are read once per call, so the engine calls this per chunk of at most one
    // control block.
    void render(float* out, int32_t n, float offset);

    // Records the filter states as audio history in the owner's registry.
    void registerHistory(StateRegistry& registry) {
        registry.add(&hp_, sizeof hp_);
        registry.add(&bp_, sizeof bp_);
        registry.add(&lp_, sizeof lp_);
    }

    // The latest output; it stays as it is while the synthesizer is not run.
    float output() const { return output_; }

    // The noise position also steps once per processing call.
    void advanceNoiseIndex() { noiseIndex_ = (noiseIndex_ + 1) & (kNoiseTableSize - 1); }
    int32_t noiseIndex() const { return noiseIndex_; }

    // Introspection for tests: the filter input of the latest frame (oscillators and noise
    // blended) and the band-pass and low-pass filter states.
    float lastFilterInput() const { return lastInput_; }
    float bandPassState() const { return bp_; }
    float lowPassState() const { return lp_; }

    // Largest filter coefficient used at damping q: the Chamberlin state-variable filter is
    // stable only while F^2 + 2 q F < 4, which high cutoffs at sample rates below about 35 kHz
    // would break. This linear bound lies under that curve for every damping 0.1..1.
    static float stableCoefficient(float q) { return 1.75f - 0.55f * q; }

  private:
    // Everything a chunk needs, read from the controls once per call.
    struct Frame {
        VoiceLanes voices;
        float morph, noiseLevel, noiseFraction, f, q;
        int32_t noiseLow, noiseHigh, type;
    };

    void load(Frame& fr);
    // Starts the gain ramps when a voice's note or gain differs from what it played.
    void retarget(Frame& fr);
    // n frames of the chunk; kRamp: gains move by their steps, kLeaving: the fading voices sound.
    template <bool kRamp, bool kLeaving>
    float run(Frame& fr, float* out, int32_t n, float offset);

    SynthControls& controls_;
    const TMSystemInfo& info_;
    const float* noise_;
    // Per voice, the wave of each of the four slots (voice 1 has the softer square and saw).
    std::array<std::array<const WaveLevels*, 4>, SynthControls::kVoices> slotWave_{};

    // What each voice played in the last chunk, its note and the gain it moves to.
    VoiceLanes played_;
    VoiceLanes::Lane note_{}, target_{};
    // Notes that left their voice while it sounded, fading out over the ramp.
    VoiceLanes leaving_;
    VoiceLanes silent_;     // what a lane without a note holds
    int32_t rampLeft_ = 0;  // frames until the gains reach their targets
    bool leavingSounds_ = false;

    float hp_ = 0.0f, bp_ = 0.0f, lp_ = 0.0f;
    float output_ = 0.0f;
    float lastInput_ = 0.0f;
    int32_t noiseIndex_ = 0;
};

}  // namespace kf
