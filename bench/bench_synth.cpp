// Carrier synthesizer cost at 44100 Hz with four voices held, the morph between two waves, the
// pulse-width warp, some noise and a resonant low-pass: per chunk of one control block (as the
// engine calls it) and one frame at a time.
#include <benchmark/benchmark.h>

#include <array>

#include "common/fp_safety.h"
#include "engine/carrier_synth.h"

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
