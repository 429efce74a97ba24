#include "engine/carrier_synth.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>

namespace kf {

namespace {

// Morph positions 0..5 map onto the four slots; positions 4 and 5 wrap back to the first slot
// so that the top of the morph range returns to the sine.
constexpr std::array<int32_t, 6> kSlotOrder = {0, 1, 2, 3, 0, 0};

// A phase step of 2 or more would mean a pitch above twice the sample rate, which the note table
// cannot produce. Such a step (or a non-finite one) can only come from broken working values; it
// holds the phase still, so that two wraps per frame always bring the phase back into 0..1.
constexpr float kMaxPhaseStep = 2.0f;

// The filter states stay far below this for any input the oscillators and noise can make; past
// it (or non-finite) the filter is restarted instead of carrying garbage for ever.
constexpr float kStateLimit = 1.0e6f;

}  // namespace

void rebuildVoices(SynthControls& controls, std::span<const HeldNote, kHeldNoteSlots> slots) {
    std::array<HeldNote, kHeldNoteSlots> sorted;
    sortHeldNotes(slots, sorted);
    for (int v = 0; v < SynthControls::kVoices; ++v) {
        SynthVoice& voice = controls.voice(v);
        voice.note = sorted[static_cast<std::size_t>(v)].note;
        voice.velocityWeight = sorted[static_cast<std::size_t>(v)].weight;
    }
    controls.updatePitches();
    controls.updateGains();
}

CarrierSynth::CarrierSynth(SynthControls& controls, const TMSystemInfo& info, const float* noiseTable)
    : controls_(controls), info_(info), noise_(noiseTable) {
    const WaveLevels* sine = &waveLevels(Wave::kSine);
    const WaveLevels* triangle = &waveLevels(Wave::kTriangle);
    // The lowest voice carries the chord's root; its softer square and saw keep it from buzzing
    // on top of the others.
    slotWave_[0] = {sine, &waveLevels(Wave::kSoftSquare), &waveLevels(Wave::kSoftSaw), triangle};
    for (std::size_t v = 1; v < slotWave_.size(); ++v)
        slotWave_[v] = {sine, &waveLevels(Wave::kSquare), &waveLevels(Wave::kSaw), triangle};
    // Lanes with nothing to play still read a table, at gain 0.
    silent_.low.fill((*sine)[0]->point.data());
    silent_.high = silent_.low;
    leaving_ = silent_;
}

void VoiceLanes::copyVoice(const VoiceLanes& from, std::size_t v) {
    for (auto lane : {&VoiceLanes::phase, &VoiceLanes::step, &VoiceLanes::split, &VoiceLanes::slopeBelow,
                      &VoiceLanes::slopeAbove, &VoiceLanes::lowOffset, &VoiceLanes::highOffset,
                      &VoiceLanes::gain, &VoiceLanes::gainStep})
        (this->*lane)[v] = (from.*lane)[v];
    low[v] = from.low[v];
    high[v] = from.high[v];
}

namespace {

// The four oscillators of a set of lanes in registers for one run of frames.
struct Oscillators {
    __m128 phase, step, split, slopeBelow, slopeAbove, lowOffset, highOffset, gain, gainStep;
    const WavePoint* const* low;
    const WavePoint* const* high;

    explicit Oscillators(const VoiceLanes& v)
        : phase(_mm_load_ps(v.phase.data())),
          step(_mm_load_ps(v.step.data())),
          split(_mm_load_ps(v.split.data())),
          slopeBelow(_mm_load_ps(v.slopeBelow.data())),
          slopeAbove(_mm_load_ps(v.slopeAbove.data())),
          lowOffset(_mm_load_ps(v.lowOffset.data())),
          highOffset(_mm_load_ps(v.highOffset.data())),
          gain(_mm_load_ps(v.gain.data())),
          gainStep(_mm_load_ps(v.gainStep.data())),
          low(v.low.data()),
          high(v.high.data()) {}

    void storeTo(VoiceLanes& v) const {
        _mm_store_ps(v.phase.data(), phase);
        _mm_store_ps(v.gain.data(), gain);
    }

    // The next frame of each voice, weighted by its gain.
    template <bool kRamp>
    __m128 next(__m128 morph) {
        const __m128 one = _mm_set1_ps(1.0f), half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps();
        const __m128 size = _mm_set1_ps(static_cast<float>(kWaveTableSize));
        // The phase starts in 0..1 and steps by less than 2, so two wraps always suffice.
        phase = _mm_add_ps(phase, step);
        phase = _mm_sub_ps(phase, _mm_and_ps(_mm_cmpgt_ps(phase, one), one));
        phase = _mm_sub_ps(phase, _mm_and_ps(_mm_cmpgt_ps(phase, one), one));

        // Pulse-width warp: the first half of the wave plays in the fraction `split` of the period.
        const __m128 below = _mm_cmple_ps(phase, split);
        const __m128 early = _mm_mul_ps(phase, slopeBelow);
        const __m128 late = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(phase, split), slopeAbove), half);
        const __m128 warped = _mm_or_ps(_mm_and_ps(below, early), _mm_andnot_ps(below, late));
        // The warp keeps this within 0..1024 up to rounding; the limits (max puts NaN on 0) make
        // the table index safe whatever the working values hold.
        const __m128 pos = _mm_min_ps(_mm_max_ps(_mm_mul_ps(warped, size), zero), size);
        const __m128i whole = _mm_cvttps_epi32(pos);
        const __m128 fraction = _mm_sub_ps(pos, _mm_cvtepi32_ps(whole));
        alignas(16) int32_t index[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(index),
                        _mm_and_si128(whole, _mm_set1_epi32(kWaveTableMask)));

        const WavePoint &a0 = low[0][index[0]], &a1 = low[1][index[1]];
        const WavePoint &a2 = low[2][index[2]], &a3 = low[3][index[3]];
        const WavePoint &b0 = high[0][index[0]], &b1 = high[1][index[1]];
        const WavePoint &b2 = high[2][index[2]], &b3 = high[3][index[3]];
        const __m128 lowValue =
            _mm_add_ps(_mm_add_ps(lowOffset, _mm_setr_ps(a0.value, a1.value, a2.value, a3.value)),
                       _mm_mul_ps(_mm_setr_ps(a0.slope, a1.slope, a2.slope, a3.slope), fraction));
        const __m128 highValue =
            _mm_add_ps(_mm_add_ps(highOffset, _mm_setr_ps(b0.value, b1.value, b2.value, b3.value)),
                       _mm_mul_ps(_mm_setr_ps(b0.slope, b1.slope, b2.slope, b3.slope), fraction));
        const __m128 value = _mm_add_ps(lowValue, _mm_mul_ps(_mm_sub_ps(highValue, lowValue), morph));
        if constexpr (kRamp) gain = _mm_add_ps(gain, gainStep);
        return _mm_mul_ps(value, gain);
    }
};

constexpr float kRampFrames = static_cast<float>(kControlInterval);

}  // namespace

void CarrierSynth::load(Frame& fr) {
    const float inverseRate = info_.inverseRate;
    const auto lowSlot =
        static_cast<std::size_t>(kSlotOrder[static_cast<std::size_t>(std::clamp(controls_.waveLow(), 0, 5))]);
    const auto highSlot = static_cast<std::size_t>(
        kSlotOrder[static_cast<std::size_t>(std::clamp(controls_.waveHigh(), 0, 5))]);
    VoiceLanes& lanes = fr.voices;
    for (int v = 0; v < SynthControls::kVoices; ++v) {
        const auto k = static_cast<std::size_t>(v);
        const SynthVoice& sv = controls_.voice(v);
        // Phases live in 0..1; anything else (never written by this class) restarts the cycle.
        lanes.phase[k] = sv.phase >= 0.0f && sv.phase <= 1.0f ? sv.phase : 0.0f;
        const float step = sv.increment * inverseRate;
        lanes.step[k] = step >= 0.0f && step < kMaxPhaseStep ? step : 0.0f;
        lanes.split[k] = sv.split;
        lanes.slopeBelow[k] = sv.slopeBelow;
        lanes.slopeAbove[k] = sv.slopeAbove;
        lanes.lowOffset[k] = sv.slotOffset[lowSlot];
        lanes.highOffset[k] = sv.slotOffset[highSlot];
        // The level follows the pitch alone: one chosen for the warp's faster half would take
        // most harmonics off a narrow pulse and move the first half-cycle's mean, which the slot
        // offsets cancel.
        const auto level = static_cast<std::size_t>(waveLevelFor(lanes.step[k]));
        lanes.low[k] = (*slotWave_[k][lowSlot])[level]->point.data();
        lanes.high[k] = (*slotWave_[k][highSlot])[level]->point.data();
    }
    retarget(fr);
    fr.morph = controls_.waveFraction();
    fr.noiseLevel = controls_.noiseLevel();
    fr.noiseFraction = controls_.noiseFraction();
    fr.noiseLow = std::clamp(controls_.noiseLow(), 0, 2);
    fr.noiseHigh = std::clamp(controls_.noiseHigh(), 0, 2);
    fr.type = std::clamp(controls_.filterType(), 0, 2);
    // Damping outside the parameter's range (0.1..1) could only come from values outside 0..1;
    // a negative one would make the filter grow without bound. The comparisons also map NaN to
    // a usable value.
    float q = controls_.filterDamping();
    q = q > 0.1f ? q : 0.1f;
    q = q < 1.0f ? q : 1.0f;
    const float f = controls_.filterCoefficient();
    const float limit = stableCoefficient(q);
    fr.q = q;
    fr.f = f > 0.0f ? (f < limit ? f : limit) : 0.0f;
}

void CarrierSynth::retarget(Frame& fr) {
    VoiceLanes& lanes = fr.voices;
    bool changed = false;
    for (int v = 0; v < SynthControls::kVoices; ++v) {
        const SynthVoice& sv = controls_.voice(v);
        const auto k = static_cast<std::size_t>(v);
        changed = changed || sv.note != note_[k] || sv.gain != target_[k];
    }
    if (changed) {
        const VoiceLanes::Lane phaseBefore = lanes.phase, noteBefore = note_, targetBefore = target_;
        for (int v = 0; v < SynthControls::kVoices; ++v) {
            const SynthVoice& sv = controls_.voice(v);
            const auto k = static_cast<std::size_t>(v);
            if (sv.note != noteBefore[k]) {
                if (played_.gain[k] != 0.0f) {
                    leaving_.copyVoice(played_, k);
                    played_.gain[k] = 0.0f;
                }
                // A held note that moved here from another voice plays on at its own phase.
                for (std::size_t u = 0; u < note_.size(); ++u)
                    if (u != k && noteBefore[u] == sv.note && targetBefore[u] != 0.0f) {
                        lanes.phase[k] = phaseBefore[u];
                        break;
                    }
            }
            note_[k] = sv.note;
            target_[k] = sv.gain;
        }
        leavingSounds_ = false;
        for (std::size_t k = 0; k < note_.size(); ++k) {
            played_.gainStep[k] = (target_[k] - played_.gain[k]) / kRampFrames;
            leaving_.gainStep[k] = -leaving_.gain[k] / kRampFrames;
            leavingSounds_ = leavingSounds_ || leaving_.gain[k] != 0.0f;
        }
        rampLeft_ = kControlInterval;
    }
    lanes.gain = played_.gain;
    lanes.gainStep = played_.gainStep;
}

template <bool kRamp, bool kLeaving>
float CarrierSynth::run(Frame& fr, float* out, int32_t n, float offset) {
    Oscillators voices(fr.voices), leaving(leaving_);
    const __m128 morph = _mm_set1_ps(fr.morph);
    float hp = hp_, bp = bp_, lp = lp_, x = lastInput_;
    int32_t noiseIndex = noiseIndex_;
    const float q = fr.q, f = fr.f, noiseLevel = fr.noiseLevel, noiseFraction = fr.noiseFraction;
    const int32_t noiseLow = fr.noiseLow, noiseHigh = fr.noiseHigh, type = fr.type;

    for (int32_t i = 0; i < n; ++i) {
        __m128 weightedVoices = voices.next<kRamp>(morph);
        if constexpr (kLeaving) weightedVoices = _mm_add_ps(weightedVoices, leaving.next<true>(morph));
        alignas(16) float weighted[4];
        _mm_store_ps(weighted, weightedVoices);
        const float oscillators = ((weighted[0] + weighted[1]) + weighted[2]) + weighted[3];

        const float noiseSample = noise_[noiseIndex] * noiseLevel;
        noiseIndex = (noiseIndex + 1) & (kNoiseTableSize - 1);
        const float source[3] = {oscillators, noiseSample, noiseSample};
        const float lowSource = source[noiseLow];
        x = lowSource + (source[noiseHigh] - lowSource) * noiseFraction;

        // Chamberlin state-variable filter; the offset keeps the recursion out of denormals.
        hp = ((x + offset) - q * bp) - lp;
        bp = bp + f * hp;
        lp = lp + f * bp;
        const float outputs[3] = {hp, bp, lp};
        // max before min, so a NaN lands on the lower limit instead of passing through.
        const float y = std::min(kClipLimit, std::max(-kClipLimit, outputs[type]));
        out[i] = y * (1.0f - kSoftClip * std::fabs(y));
        offset = -offset;
    }

    voices.storeTo(fr.voices);
    if constexpr (kLeaving) leaving.storeTo(leaving_);
    hp_ = hp;
    bp_ = bp;
    lp_ = lp;
    lastInput_ = x;
    noiseIndex_ = noiseIndex;
    return offset;
}

void CarrierSynth::render(float* out, int32_t n, float offset) {
    if (n <= 0) return;
    Frame fr;
    load(fr);

    const int32_t ramped = std::min(n, rampLeft_);
    if (ramped > 0) {
        offset = leavingSounds_ ? run<true, true>(fr, out, ramped, offset)
                                : run<true, false>(fr, out, ramped, offset);
        rampLeft_ -= ramped;
        if (rampLeft_ == 0) {
            // Exactly on target, and the fading notes gone.
            fr.voices.gain = target_;
            fr.voices.gainStep = {};
            leaving_ = silent_;
            leavingSounds_ = false;
        }
    }
    if (ramped < n) run<false, false>(fr, out + ramped, n - ramped, offset);

    played_ = fr.voices;
    for (int v = 0; v < SynthControls::kVoices; ++v)
        controls_.voice(v).phase = fr.voices.phase[static_cast<std::size_t>(v)];
    if (!(std::fabs(bp_) <= kStateLimit && std::fabs(lp_) <= kStateLimit)) hp_ = bp_ = lp_ = 0.0f;
    output_ = out[n - 1];
}

float CarrierSynth::renderSample(float offset) {
    float y;
    render(&y, 1, offset);
    return y;
}

}  // namespace kf
