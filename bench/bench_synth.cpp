// Carrier synthesizer cost at 44100 Hz with four voices held, the morph between two waves, the
// pulse-width warp, some noise and a resonant low-pass: per chunk of one control block (as the
// engine calls it) and one frame at a time.
#include <benchmark/benchmark.h>

#include <array>

#include "common/fp_safety.h"
#include "engine/carrier_synth.h"
#include "synth_figures.h"

namespace {

constexpr double kRate = 44100.0;

struct Played {
    Played() {
        int32_t seed = 20537;
        for (float& v : noise) {
            seed = static_cast<int32_t>(static_cast<uint32_t>(seed) * 16807u) % 2147483647;
            v = static_cast<float>(seed) * 4.656612873077393e-10f;
        }
        controls.setWaveform(0.37f);
        controls.setPulseWidth(0.7f);
        controls.setNoise(0.2f);
        controls.setCutoff(0.6f);
        controls.setResonance(0.5f);
        controls.setFilterType(1.0f);
        controls.setLevel(0.5f);
        controls.setOctave(0.5f);
        controls.setBendRange(0.2f);
        controls.setBend(0.5f);
        controls.applyPending();
        info.lastVelocityWeight = 0.8f;
        std::array<kf::HeldNote, kf::kHeldNoteSlots> slots{};
        slots[0] = {48.0f, 0.8f};
        slots[1] = {55.0f, 0.7f};
        slots[2] = {60.0f, 0.9f};
        slots[3] = {64.0f, 0.6f};
        kf::rebuildVoices(controls, slots);
    }

    kf::TMSystemInfo info;
    kf::SynthControls controls{info};
    std::array<float, 1024> noise{};
    kf::CarrierSynth synth{controls, info, noise.data()};
};

void report(benchmark::State& state, int64_t samples) {
    state.SetItemsProcessed(samples);
    state.counters["s_per_sample"] = benchmark::Counter(
        static_cast<double>(samples), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(samples) / kRate, benchmark::Counter::kIsRate);
}

void BM_SynthChunk(benchmark::State& state) {
    const kf::FpModeGuard mode;
    Played p;
    alignas(64) float out[kf::kControlInterval];
    const float offset = kf::kEngineAntiDenormal;
    for (auto _ : state) {
        p.synth.render(out, kf::kControlInterval, offset);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    report(state, state.iterations() * kf::kControlInterval);
}
BENCHMARK(BM_SynthChunk);

void BM_SynthPerSample(benchmark::State& state) {
    const kf::FpModeGuard mode;
    Played p;
    float offset = kf::kEngineAntiDenormal;
    for (auto _ : state) {
        benchmark::DoNotOptimize(p.synth.renderSample(offset));
        offset = -offset;
    }
    report(state, state.iterations());
}
BENCHMARK(BM_SynthPerSample);

}  // namespace

// Figures rather than timings (one run each, printed as counters): the roughest step at a note
// event against the steady note's (dB), the aliasing of a saw at C7 (energy off the harmonics
// against all, and the worst component against the fundamental), the largest change of a low
// saw's harmonics below 16 kHz against the stored table (dB), and how far the master EQ's
// response at a rate strays from its response at 44.1 kHz (dB, 20 Hz - 16 kHz).
void BM_FigureNoteChangeSteps(benchmark::State& state) {
    kf::figures::NoteChangeSteps s{};
    for (auto _ : state) s = kf::figures::noteChangeSteps();
    state.counters["on_dB"] = s.noteOn;
    state.counters["off_dB"] = s.noteOff;
    state.counters["voice_change_dB"] = s.voiceChange;
}
BENCHMARK(BM_FigureNoteChangeSteps)->Iterations(1);

void BM_FigureSawAliasC7(benchmark::State& state) {
    kf::figures::AliasFigures a{};
    for (auto _ : state) a = kf::figures::sawAlias(96.0f, static_cast<float>(state.range(0)));
    state.counters["alias_dB"] = a.relativeToTotalDb;
    state.counters["worst_dBc"] = a.worstComponentDbc;
}
BENCHMARK(BM_FigureSawAliasC7)->ArgName("rate")->Arg(44100)->Arg(96000)->Iterations(1);

void BM_FigureSawHarmonicsChange(benchmark::State& state) {
    double change = 0.0;
    for (auto _ : state)
        change = kf::figures::sawHarmonicChangeDb(static_cast<float>(state.range(0)), 44100.0f, 16000.0);
    state.counters["largest_dB"] = change;
}
BENCHMARK(BM_FigureSawHarmonicsChange)->ArgName("note")->Arg(36)->Arg(53)->Arg(60)->Iterations(1);

void BM_FigureEqRateDeviation(benchmark::State& state) {
    double deviation = 0.0;
    for (auto _ : state) deviation = kf::figures::eqRateDeviationDb(static_cast<float>(state.range(0)));
    state.counters["largest_dB"] = deviation;
}
BENCHMARK(BM_FigureEqRateDeviation)
    ->ArgName("rate")
    ->Arg(22050)
    ->Arg(32000)
    ->Arg(48000)
    ->Arg(96000)
    ->Arg(192000)
    ->Iterations(1);
