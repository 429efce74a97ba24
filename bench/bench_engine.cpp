// Engine throughput at 44.1 kHz: the vocoder on two inputs (dry and fully vocoded) and the
// vocoder bank alone at each vector width. Reported per frame and as times real time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/engine.h"

namespace {

constexpr double kRate = 44100.0;
constexpr int kBlock = 512;

struct Material {
    std::vector<float> a, b;
    explicit Material(size_t n) : a(n), b(n) {
        uint32_t s = 12345u;
        for (size_t i = 0; i < n; ++i) {
            s = s * 1664525u + 1013904223u;
            a[i] = static_cast<float>(static_cast<int32_t>(s)) * 2.3e-10f;
            s = s * 1664525u + 1013904223u;
            b[i] = static_cast<float>(static_cast<int32_t>(s)) * 1.5e-10f;
        }
    }
};

void addFrameCounters(benchmark::State& state, int64_t framesPerIteration) {
    const double frames = static_cast<double>(state.iterations() * framesPerIteration);
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    state.counters["s/frame"] =
        benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["x_realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

// Vocoder between input A (analysis) and input B (synthesis), the main use.
std::unique_ptr<kf::Engine> vocoderEngine(float mix) {
    auto e = std::make_unique<kf::Engine>();
    e->setCarrierMode(0);
    e->setModulatorMode(1);
    e->setMix(mix);
    e->inputStage1().setRatio(0.5f);
    e->inputStage2().setRatio(0.5f);
    e->master().setCompAmount(0.5f);
    e->setSampleRate(static_cast<float>(kRate));
    return e;
}

void runEngine(benchmark::State& state, float mix) {
    auto e = vocoderEngine(mix);
    Material m(kBlock);
    std::vector<float> l(kBlock), r(kBlock);
    const float* in[2] = {m.a.data(), m.b.data()};
    float* out[2] = {l.data(), r.data()};
    for (auto _ : state) {
        e->process(in, out, kBlock);
        benchmark::DoNotOptimize(l.data());
        benchmark::ClobberMemory();
    }
    addFrameCounters(state, kBlock);
}

void BM_EngineVocoderMix0(benchmark::State& state) {
    runEngine(state, 0.0f);
}
void BM_EngineVocoderMix1(benchmark::State& state) {
    runEngine(state, 1.0f);
}
BENCHMARK(BM_EngineVocoderMix0);
BENCHMARK(BM_EngineVocoderMix1);

// The three banks, followers and sums alone, in 32-frame control blocks.
void BM_VocoderBank(benchmark::State& state) {
    const auto isa = static_cast<kf::vocoder::Isa>(state.range(0));
    if (!kf::VocoderBank::isaSupported(isa)) {
        state.SkipWithError("instruction set not available on this CPU");
        return;
    }
    kf::TMSystemInfo info;
    auto bank = std::make_unique<kf::VocoderBank>(info);
    bank->setIsa(isa);
    bank->applyPending();
    Material m(kBlock);
    std::vector<float> l(kBlock), r(kBlock);
    for (auto _ : state) {
        for (int i = 0; i < kBlock; i += 32) {
            bank->controlBlock();
            bank->process(&m.b[i], &m.a[i], &m.a[i], 1e-8f, &l[i], &r[i], 32);
        }
        benchmark::DoNotOptimize(l.data());
        benchmark::ClobberMemory();
    }
    addFrameCounters(state, kBlock);
}
BENCHMARK(BM_VocoderBank)->ArgName("isa")->Arg(0)->Arg(1)->Arg(2);

// A fixed amount of work for scripts/instruction-counts (run under callgrind): exactly
// kCountIterations blocks through Engine::process.
constexpr int kCountIterations = 200;
void BM_InstructionCountEngine(benchmark::State& state) {
    auto e = vocoderEngine(1.0f);
    Material m(kBlock);
    std::vector<float> l(kBlock), r(kBlock);
    const float* in[2] = {m.a.data(), m.b.data()};
    float* out[2] = {l.data(), r.data()};
    for (auto _ : state) {
        e->process(in, out, kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    addFrameCounters(state, kBlock);
}
BENCHMARK(BM_InstructionCountEngine)->Iterations(kCountIterations);

}  // namespace
