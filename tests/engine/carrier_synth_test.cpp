#include "engine/carrier_synth.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "common/fp_safety.h"
#include "synth_figures.h"

namespace kf {
namespace {

// One synthesizer with everything it reads: sine, no warp, no noise, low-pass, level 1.
struct Rig {
    explicit Rig(float rate = 44100.0f) {
        info.setSampleRate(rate);
        int32_t seed = 20537;  // the instance's noise table
        for (float& v : noise) {
            seed = static_cast<int32_t>(static_cast<uint32_t>(seed) * 16807u) % 2147483647;
            v = static_cast<float>(seed) * 4.656612873077393e-10f;
        }
        controls.setWaveform(0.0f);
        controls.setPulseWidth(0.5f);
        controls.setNoise(0.0f);
        controls.setCutoff(0.5f);
        controls.setResonance(0.0f);
        controls.setFilterType(1.0f);
        controls.setLevel(1.0f);
        controls.setOctave(0.5f);
        controls.setBendRange(0.0f);
        controls.setBend(0.5f);
        controls.applyPending();
    }

    // Fills the note slots in order with (note, weight) and rebuilds the voices, after taking
    // the parameters set so far as the engine's next chunk does.
    void hold(std::initializer_list<std::pair<float, float>> notes) {
        controls.applyPending();
        std::array<HeldNote, kHeldNoteSlots> slots{};
        std::size_t i = 0;
        for (auto [note, weight] : notes) slots[i++] = {note, weight};
        rebuildVoices(controls, slots);
    }

    std::vector<float> run(int32_t frames) {
        std::vector<float> out(static_cast<std::size_t>(frames));
        for (int32_t i = 0; i < frames; i += kControlInterval) {
            const int32_t n = std::min(kControlInterval, frames - i);
            synth.render(out.data() + i, n, offset);
            if (n % 2) offset = -offset;
        }
        return out;
    }

    TMSystemInfo info;
    SynthControls controls{info};
    std::array<float, 1024> noise{};
    CarrierSynth synth{controls, info, noise.data()};
    float offset = kEngineAntiDenormal;
};

std::vector<float> voiceNotes(const Rig& r) {
    std::vector<float> notes;
    for (int v = 0; v < 4; ++v) notes.push_back(r.controls.voice(v).note);
    return notes;
}

TEST(CarrierSynth, FourLowestHeldNotesTakeTheVoicesInOrder) {
    Rig r;
    // Five held, one of the lower four released: the fifth comes in.
    r.hold({{0, 0}, {64, 0.5f}, {67, 0.5f}, {72, 0.25f}, {48, 0.75f}});
    EXPECT_FLOAT_EQ(r.controls.voice(0).gain, 0.75f);
    EXPECT_EQ(voiceNotes(r), (std::vector<float>{48, 64, 67, 72}));
    EXPECT_FLOAT_EQ(r.controls.voice(3).gain, 0.125f);

    // Equal notes keep their slot order (a swapping selection sort would reverse them).
    r.hold({{64, 0.25f}, {64, 0.5f}, {60, 0.75f}});
    EXPECT_EQ(voiceNotes(r), (std::vector<float>{60, 64, 64, 0}));
    EXPECT_EQ(r.controls.voice(1).velocityWeight, 0.25f);
    EXPECT_EQ(r.controls.voice(2).velocityWeight, 0.5f);
    EXPECT_EQ(r.controls.voice(3).gain, 0.0f);
}

TEST(CarrierSynth, OutputDecaysToZeroOnceNoNoteIsHeld) {
    for (float type : {0.0f, 0.5f, 1.0f}) {
        Rig r;
        r.controls.setFilterType(type);
        r.controls.setWaveform(0.5f);
        r.hold({{48, 0.8f}, {55, 0.8f}});
        std::vector<float> playing = r.run(4410);
        float peak = 0.0f;
        for (float v : playing) peak = std::max(peak, std::fabs(v));
        EXPECT_GT(peak, 0.05f) << type;
        r.hold({});
        std::vector<float> tail = r.run(44100);
        for (std::size_t i = tail.size() - 4410; i < tail.size(); ++i)
            ASSERT_LT(std::fabs(tail[i]), 1e-6f) << type;
        EXPECT_EQ(r.synth.output(), tail.back());
    }
}

// Per frame, the filter input must equal the table read at the voices' phases, once the gains
// have reached their values.
template <typename Expected>
void expectLookup(Rig& r, Expected expected) {
    r.run(kControlInterval);
    for (int i = 0; i < 2000; ++i) {
        r.synth.renderSample(kEngineAntiDenormal);
        ASSERT_EQ(r.synth.lastFilterInput(), expected()) << i;
    }
}

// The table of the level the voice's pitch plays.
float tableAt(Wave w, const Rig& r, int v) {
    const SynthVoice& voice = r.controls.voice(v);
    return wavetable(w, waveLevelFor(voice.increment * r.info.inverseRate)).at(voice.phase * kWaveTableSize);
}

TEST(CarrierSynth, UnwarpedVoicesAreThePlainTableLookup) {
    Rig r;
    r.hold({{57, 0.5f}, {64, 0.25f}});
    const float g0 = r.controls.voice(0).gain, g1 = r.controls.voice(1).gain;
    expectLookup(r, [&] { return g0 * tableAt(Wave::kSine, r, 0) + g1 * tableAt(Wave::kSine, r, 1); });

    r.controls.setWaveform(0.25f);  // position 1: the square slot (soft square on voice 1)
    r.controls.applyPending();
    expectLookup(r,
                 [&] { return g0 * tableAt(Wave::kSoftSquare, r, 0) + g1 * tableAt(Wave::kSquare, r, 1); });

    r.controls.setWaveform(1.0f);  // position 4 wraps back to the sine
    r.controls.applyPending();
    EXPECT_EQ(r.controls.waveLow(), 4);
    expectLookup(r, [&] { return g0 * tableAt(Wave::kSine, r, 0) + g1 * tableAt(Wave::kSine, r, 1); });

    r.controls.setWaveform(0.625f);  // halfway from saw to triangle
    r.controls.applyPending();
    auto blend = [&](Wave a, Wave b, int v) {
        const float low = tableAt(a, r, v);
        return low + (tableAt(b, r, v) - low) * 0.5f;
    };
    expectLookup(r, [&] {
        return g0 * blend(Wave::kSoftSaw, Wave::kTriangle, 0) + g1 * blend(Wave::kSaw, Wave::kTriangle, 1);
    });
}

// Full pulse width plays the first half-cycle in 1 % of the period. The warp moves each wave's
// DC by its first half-cycle's mean times the warp; each slot's offset cancels it, so a chord
// keeps its mean near 0 at any pulse width and never leans on the clip.
TEST(CarrierSynth, PulseWidthWarpsTheCycleAndAddsNoDcOnAnyWave) {
    for (int c = 0; c < 12; ++c) {  // sine, square, saw, triangle at widths 0, 0.2 and 1
        const float wave = 0.25f * static_cast<float>(c / 3), width = std::array{0.0f, 0.2f, 1.0f}[c % 3];
        Rig r;
        r.controls.setWaveform(wave);
        r.controls.setPulseWidth(width);
        r.hold({{45, 1.0f}, {52, 1.0f}, {56, 1.0f}, {61, 1.0f}});
        double sum = 0.0;
        for (int i = 0; i < 88200; ++i) {
            r.synth.renderSample(kEngineAntiDenormal);
            sum += r.synth.lastFilterInput();
        }
        // Per unit of voice gain (the four voices weigh 3.5 together); the lowest voice's
        // softer square and saw leave a little of their own.
        EXPECT_NEAR(sum / 88200 / 3.5, 0.0, 0.03) << "waveform " << wave << " pulse width " << width;
    }
    // One sine voice at full width: positive only in the first 1 % of each period.
    Rig r;
    r.controls.setPulseWidth(1.0f);
    r.controls.applyPending();
    EXPECT_NEAR(r.controls.voice(0).split, 0.01f, 1e-6f);
    r.hold({{45, 1.0f}});
    r.run(kControlInterval);
    const float offset = r.controls.voice(0).slotOffset[0];
    int misplaced = 0;
    for (int i = 0; i < 44100; ++i) {
        r.synth.renderSample(kEngineAntiDenormal);
        const float x = r.synth.lastFilterInput() - offset, phase = r.controls.voice(0).phase;
        // Clear of the half-cycle boundaries, the sign of the wave tells which half plays.
        if (phase > 0.0005f && phase < 0.0095f) misplaced += !(x > 0.0f);
        if (phase > 0.0105f && phase < 0.9995f) misplaced += !(x < 0.0f);
    }
    EXPECT_EQ(misplaced, 0);
}

TEST(CarrierSynth, PitchIsLimitedToNotes1To127) {
    Rig r;
    r.controls.setOctave(0.0f);  // -24
    r.hold({{10, 1.0f}});
    EXPECT_EQ(r.controls.voice(0).pitch, 1.0f);
    r.controls.setOctave(1.0f);  // +24
    r.controls.setBendRange(1.0f);
    r.controls.setBend(1.0f);
    r.hold({{120, 1.0f}});
    EXPECT_EQ(r.controls.voice(0).pitch, 127.0f);
    // The phase advances by the limited note's frequency over the sample rate (A4 at 48 kHz).
    const float before = r.controls.voice(0).phase;
    r.synth.renderSample(kEngineAntiDenormal);
    EXPECT_FLOAT_EQ(r.controls.voice(0).phase - before, r.info.frequencyOfNote(127.0f) / 44100.0f);
    Rig high(48000.0f);
    high.hold({{69, 1.0f}});
    high.synth.renderSample(kEngineAntiDenormal);
    EXPECT_NEAR(high.controls.voice(0).phase * 48000.0f, 440.0f, 0.01f);
}

TEST(CarrierSynth, FilterKeepsItsCutoffAcrossRatesAndStaysStableAtLowRates) {
    Rig r(48000.0f), base;
    r.controls.setCutoff(1.0f);  // the coefficient scales with the rate to keep the cutoff
    base.controls.setCutoff(1.0f);
    r.controls.applyPending();
    base.controls.applyPending();
    EXPECT_FLOAT_EQ(r.controls.filterCoefficient() * 48000.0f, base.controls.filterCoefficient() * 44100.0f);
    // At low rates the top cutoffs ask for coefficients the filter cannot run stably; the output
    // must stay bounded and not pin to the clip limits.
    for (int c = 0; c < 12; ++c) {  // rates 11050 and 32000, resonance 0 and 1, three filter types
        const float rate = c < 6 ? 11050.0f : 32000.0f, resonance = static_cast<float>(c % 2);
        SCOPED_TRACE(testing::Message() << rate << " Hz, resonance " << resonance << ", type " << c / 2 % 3);
        Rig low(rate);
        low.controls.setCutoff(1.0f);
        low.controls.setResonance(resonance);
        low.controls.setFilterType(0.5f * static_cast<float>(c / 2 % 3));
        low.controls.setNoise(0.3f);
        low.controls.setLevel(0.02f);  // keeps the resonant peak inside the clip limits
        low.info.lastVelocityWeight = 1.0f;
        low.hold({{40, 1.0f}, {52, 1.0f}, {59, 1.0f}, {64, 1.0f}});
        std::vector<float> out(kControlInterval);
        for (int chunk = 0; chunk < 1000; ++chunk) {
            low.synth.render(out.data(), kControlInterval, kEngineAntiDenormal);
            ASSERT_LT(std::max(std::fabs(low.synth.bandPassState()), std::fabs(low.synth.lowPassState())),
                      100.0f);
            for (float v : out) ASSERT_LT(std::fabs(v), 0.999f);
        }
    }
}

TEST(CarrierSynth, FullNoiseReplacesTheOscillatorsAndFollowsTheLastVelocity) {
    // With a note held, the filter input is the noise table alone, scaled by noise x 0.5 x level
    // x last velocity weight; the extra per-call step moves it on by one entry.
    Rig r;
    r.controls.setNoise(1.0f);
    r.info.lastVelocityWeight = 0.5f;
    r.hold({{60, 1.0f}});
    r.synth.advanceNoiseIndex();
    for (int i = 1; i < 2100; ++i) {
        r.synth.renderSample(kEngineAntiDenormal);
        ASSERT_FLOAT_EQ(r.synth.lastFilterInput(), r.noise[static_cast<std::size_t>(i % 1024)] * 0.25f) << i;
    }
    // Halfway, the filter hears the midpoint of oscillators and noise.
    r.controls.setNoise(0.5f);
    r.controls.applyPending();
    const float level = r.controls.noiseLevel(), gain = r.controls.voice(0).gain;
    for (int i = 0; i < 100; ++i) {
        const float n = r.noise[static_cast<std::size_t>(r.synth.noiseIndex())] * level;
        r.synth.renderSample(kEngineAntiDenormal);
        const float osc = gain * tableAt(Wave::kSine, r, 0);
        ASSERT_EQ(r.synth.lastFilterInput(), osc + (n - osc) * 0.5f) << i;
    }
    r.info.lastVelocityWeight = 0.0f;
    r.controls.setNoise(1.0f);
    r.controls.applyPending();
    r.synth.renderSample(kEngineAntiDenormal);
    EXPECT_EQ(r.synth.lastFilterInput(), 0.0f);
}

// A note starting, stopping or moving to another voice is no rougher than the note itself
// (a gain step there would be about 22 dB rougher), and the moved note plays on at its phase.
TEST(CarrierSynth, NoteChangesRampTheGainsAndMovedNotesKeepTheirPhase) {
    const figures::NoteChangeSteps steps = figures::noteChangeSteps();
    EXPECT_LT(steps.noteOn, 6.0);
    EXPECT_LT(steps.noteOff, 6.0);
    EXPECT_LT(steps.voiceChange, 6.0);

    Rig moved, kept;
    for (Rig* r : {&moved, &kept}) {
        r->hold({{57, 1.0f}, {69, 1.0f}});
        r->run(1000);
    }
    moved.hold({{69, 1.0f}});
    moved.run(3 * kControlInterval);
    kept.run(3 * kControlInterval);
    EXPECT_EQ(moved.controls.voice(0).phase, kept.controls.voice(1).phase);
    EXPECT_EQ(moved.controls.voice(0).gain, kept.controls.voice(1).gain);
}

// A saw at C7 folds nothing back (about -13 dB of aliasing when read without band limits), and
// low notes keep every harmonic below 16 kHz as the stored table has it.
TEST(CarrierSynth, TablesPlayBandLimited) {
    for (float rate : {44100.0f, 96000.0f})
        EXPECT_LT(figures::sawAlias(96.0f, rate).relativeToTotalDb, -60.0) << rate;
    for (float note : {36.0f, 53.0f, 60.0f})
        EXPECT_LT(figures::sawHarmonicChangeDb(note, 44100.0f, 16000.0), 0.5) << note;
}

TEST(CarrierSynth, ChunkedRenderMatchesPerSampleRenderBitForBit) {
    const FpModeGuard mode;
    Rig single, chunked;
    for (Rig* r : {&single, &chunked}) {
        r->controls.setWaveform(0.37f);
        r->controls.setPulseWidth(0.8f);
        r->controls.setNoise(0.3f);
        r->controls.setResonance(0.7f);
        r->controls.setFilterType(0.5f);
        r->info.lastVelocityWeight = 0.6f;
        r->hold({{43, 0.7f}, {55, 0.5f}, {62, 0.9f}, {67, 0.3f}, {70, 0.4f}});
    }
    const int32_t sizes[] = {1, 5, 32, 17, 9, 32, 3, 31, 2};
    std::vector<float> a, b;
    float offset = kEngineAntiDenormal;
    for (int round = 0; round < 40; ++round) {
        if (round == 20)  // a change between chunks reaches both paths at the same frame
            for (Rig* r : {&single, &chunked}) {
                r->controls.setWaveform(0.81f);
                r->controls.applyPending();
            }
        // Every few chunks a new processing call steps the noise.
        if (round % 3 == 0)
            for (Rig* r : {&single, &chunked}) r->synth.advanceNoiseIndex();
        const int32_t n = sizes[round % 9];
        std::vector<float> block(static_cast<std::size_t>(n));
        chunked.synth.render(block.data(), n, offset);
        b.insert(b.end(), block.begin(), block.end());
        for (int32_t i = 0; i < n; ++i) {
            a.push_back(single.synth.renderSample(offset));
            offset = -offset;
        }
    }
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
    EXPECT_EQ(single.synth.noiseIndex(), chunked.synth.noiseIndex());
}

}  // namespace
}  // namespace kf
