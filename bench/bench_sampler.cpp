// Sampler playback cost at 44100 Hz: one control block (32 frames) per iteration, rendered and
// handed over as the instance does it, for a looping 48 kHz sample transposed by a fractional
// number of semitones (so every frame interpolates), stereo and mono, and with a short loop
// that wraps every few blocks.
#include <benchmark/benchmark.h>

#include <vector>

#include "common/fp_safety.h"
#include "engine/sample_reader.h"
#include "state/sample_data.h"

namespace {

constexpr double kRate = 44100.0;
constexpr int32_t kFrames = 96000;  // two seconds at the file's 48 kHz

std::vector<int16_t> noise(uint32_t seed) {
    std::vector<int16_t> v(kFrames);
    for (int16_t& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<int16_t>(seed >> 16);
    }
    return v;
}

void report(benchmark::State& state) {
    const auto frames = static_cast<double>(state.iterations()) * kf::kControlInterval;
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    // Printed as a time with its unit (for example 3.0ns).
    state.counters["time_per_frame"] =
        benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["x_realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

// state.range(0): 1 stereo, 0 mono; state.range(1): end marker in frames (0 = whole sample).
void BM_SamplerLoop(benchmark::State& state) {
    const kf::FpModeGuard mode;
    kf::TMSystemInfo info;
    kf::TMSampleData sample;
    const auto left = noise(1), right = noise(2);
    sample.assignSample(left.data(), state.range(0) != 0 ? right.data() : nullptr, kFrames, 48000.0f);
    kf::TMSampleReader reader(info, sample);
    sample.setEndMarker(static_cast<int32_t>(state.range(1)));
    const kf::TMSampleReader::Controls controls{1.0f, 0.8f, 3.7f, -1};
    alignas(64) float outL[kf::kControlInterval], outR[kf::kControlInterval];
    for (auto _ : state) {
        info.controlCounter = 0;
        reader.refill(controls, outL, outR);
        benchmark::DoNotOptimize(outL);
        benchmark::DoNotOptimize(outR);
        benchmark::ClobberMemory();
    }
    if (!reader.playing()) state.SkipWithError("the sample is not playing");
    report(state);
}
BENCHMARK(BM_SamplerLoop)->ArgNames({"stereo", "end"})->Args({1, 0})->Args({0, 0})->Args({1, 100});

}  // namespace
