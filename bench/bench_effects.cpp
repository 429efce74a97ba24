// Each insert effect alone, driven as the engine drives it: a control tick, then one
// 32-frame block in place, at 44100 Hz and 120 beats per minute.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "effects/insert_effects.h"

namespace {

constexpr float kRate = 44100.0f;
constexpr int kBlock = 32;
constexpr int kSourceFrames = 1 << 16;

struct Bench {
    Bench() {
        info.stateRegistry = &registry;
        info.tempoListeners = &listeners;
        info.setSampleRate(kRate);
        effects = std::make_unique<kf::InsertEffects>(&info);
        for (kf::TMEffect* fx : effects->inSetUpOrder()) {
            fx->reset();
            fx->updateTiming(false);
            fx->start();
        }
        // Mid-position knobs, as a user would leave them; both mixes well above zero.
        for (int32_t tag = kf::tag::reverb_room; tag <= kf::tag::lofi_distortion; ++tag)
            effects->setHostParameter(tag, kf::parameterRow(tag)->law(0.5f));
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> d(-0.5f, 0.5f);
        sourceL.resize(kSourceFrames);
        sourceR.resize(kSourceFrames);
        for (int i = 0; i < kSourceFrames; ++i) {
            sourceL[i] = d(rng);
            sourceR[i] = d(rng);
        }
    }

    kf::TMSystemInfo info;
    kf::StateRegistry registry;
    kf::TempoListeners listeners;
    std::unique_ptr<kf::InsertEffects> effects;
    std::vector<float> sourceL, sourceR;
};

void runEffect(benchmark::State& state, int32_t choice) {
    Bench b;
    kf::TMEffect* fx = b.effects->forChoice(choice);
    alignas(32) float left[kBlock];
    alignas(32) float right[kBlock];
    int offset = 0;
    for (auto _ : state) {
        std::memcpy(left, b.sourceL.data() + offset, sizeof left);
        std::memcpy(right, b.sourceR.data() + offset, sizeof right);
        offset = (offset + kBlock) & (kSourceFrames - 1);
        fx->controlTick();
        fx->process(left, right, kBlock);
        benchmark::DoNotOptimize(left);
        benchmark::DoNotOptimize(right);
        benchmark::ClobberMemory();
    }
    const double frames = static_cast<double>(state.iterations()) * kBlock;
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    // CPU seconds per frame (shown with an SI prefix, e.g. "20n" is 20 ns), and seconds
    // of audio per CPU second, i.e. times real time.
    state.counters["per_frame"] =
        benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["x_realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

void BM_Reverb(benchmark::State& s) {
    runEffect(s, kf::kReverbChoice);
}
void BM_Delay(benchmark::State& s) {
    runEffect(s, kf::kDelayChoice);
}
void BM_Phaser(benchmark::State& s) {
    runEffect(s, kf::kPhaserChoice);
}
void BM_Lofi(benchmark::State& s) {
    runEffect(s, kf::kLofiChoice);
}

BENCHMARK(BM_Reverb);
BENCHMARK(BM_Delay);
BENCHMARK(BM_Phaser);
BENCHMARK(BM_Lofi);

}  // namespace
