// Engine throughput at 44.1 kHz: the vocoder on two inputs (dry and fully vocoded) and the
// vocoder bank alone at each vector width, with the classic and the articulate bank. Reported
// per frame and as times real time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "common/parameter_table.h"
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

// A parameter through the engine's own entry, its working value by the table's law.
void setParameter(kf::Engine& e, int32_t tag, float v) {
    e.applyParameter(tag, v, kf::parameterRow(tag)->law(v));
}

enum class Carrier { kInputB, kSynth };

// Vocoder between input A (analysis) and input B (synthesis), the main use, or with the
// synthesizer playing a four-note chord as the carrier; the classic or the articulate bank.
std::unique_ptr<kf::Engine> vocoderEngine(float mix, Carrier carrier = Carrier::kInputB,
                                          bool articulate = false) {
    auto e = std::make_unique<kf::Engine>();
    e->setCarrierMode(0);
    e->setModulatorMode(carrier == Carrier::kSynth ? 2 : 1);
    e->setSynthOn(carrier == Carrier::kSynth);
    e->setMix(mix);
    e->inputStage1().setRatio(0.5f);
    e->inputStage2().setRatio(0.5f);
    e->master().setCompAmount(0.5f);
    e->setSampleRate(static_cast<float>(kRate));
    setParameter(*e, kf::tag::articulate, articulate ? 1.0f : 0.0f);
    setParameter(*e, kf::tag::consonants, articulate ? 0.5f : 0.0f);
    if (carrier == Carrier::kSynth) {
        for (auto [tag, v] : {std::pair{kf::tag::waveform, 0.5f},
                              {kf::tag::noise, 0.25f},
                              {kf::tag::synth_level, 0.8f},
                              {kf::tag::filtertype, 1.0f},
                              {kf::tag::cutoff, 1.0f}})
            setParameter(*e, tag, v);
        const float notes[4] = {45, 52, 57, 60}, weights[4] = {0.8f, 0.8f, 0.8f, 0.8f};
        e->setHeldNotes(notes, weights, 4);
    }
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

// The three banks, followers and sums alone, in 32-frame control blocks, at each vector width
// this build and CPU offer: the rows compare the kernels as built, and `chosen` marks the one
// the bank picks by default. Both analysis inputs are one signal, as with a mono voice.
void BM_VocoderBank(benchmark::State& state) {
    const auto isa = static_cast<kf::vocoder::Isa>(state.range(0));
    if (!kf::VocoderBank::isaSupported(isa)) {
        state.SkipWithError("instruction set not available on this CPU");
        return;
    }
    kf::TMSystemInfo info;
    auto bank = std::make_unique<kf::VocoderBank>(info);
    bank->setArticulate(state.range(1) != 0);
    bank->setConsonants(state.range(1) != 0 ? 0.5f : 0.0f);
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
    state.counters["chosen"] = isa == kf::VocoderBank::bestIsa() ? 1.0 : 0.0;
}
BENCHMARK(BM_VocoderBank)->ArgNames({"isa", "articulate"})->ArgsProduct({{0, 1, 2}, {0, 1}});

// A fixed amount of work for scripts/instruction-counts (run under callgrind): exactly
// kCountIterations blocks through Engine::process, fully wet. Arguments: the carrier (0 input
// B, 1 the synthesizer playing a chord) and the bank (0 classic, 1 articulate).
constexpr int kCountIterations = 200;
void BM_InstructionCountEngine(benchmark::State& state) {
    auto e =
        vocoderEngine(1.0f, state.range(0) != 0 ? Carrier::kSynth : Carrier::kInputB, state.range(1) != 0);
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
BENCHMARK(BM_InstructionCountEngine)
    ->ArgNames({"synth", "articulate"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Iterations(kCountIterations);

}  // namespace
