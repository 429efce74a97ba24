// The whole plug-in as a host drives it: the played vocoder (the synthesizer's four
// voices as the carrier, a voice-like signal as the analysis input) and each insert
// effect on top of it, at 44100 Hz in host blocks of 512 frames.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "plugin/uniclient.h"

namespace {

constexpr int kBlock = 512;
constexpr float kRate = 44100.0f;

// A 110 Hz pulse train through two resonances: enough formant motion to keep every
// band follower busy.
std::vector<float> voiceLike(int frames) {
    std::vector<float> out(static_cast<std::size_t>(frames));
    float b1 = 0, l1 = 0, b2 = 0, l2 = 0;
    for (int i = 0; i < frames; ++i) {
        const float x = (i % 401 == 0) ? 1.0f : 0.0f;
        const float f1 = 2.0f * std::sin(3.14159f * 700.0f / kRate),
                    f2 = 2.0f * std::sin(3.14159f * 1200.0f / kRate);
        l1 += f1 * b1;
        b1 += f1 * (x - l1 - 0.1f * b1);
        l2 += f2 * b2;
        b2 += f2 * (b1 - l2 - 0.1f * b2);
        out[static_cast<std::size_t>(i)] = 0.2f * b2;
    }
    return out;
}

void playChord(kf::TMUniClient& c) {
    vst::VstMidiEvent notes[4]{};
    vst::VstEvent* list[4];
    const char keys[4] = {48, 55, 60, 64};
    for (int i = 0; i < 4; ++i) {
        notes[i].type = vst::kVstMidiType;
        notes[i].midiData[0] = static_cast<char>(0x90);
        notes[i].midiData[1] = keys[i];
        notes[i].midiData[2] = 100;
        list[i] = reinterpret_cast<vst::VstEvent*>(&notes[i]);
    }
    struct {
        int32_t numEvents;
        intptr_t reserved;
        vst::VstEvent* events[4];
    } events{4, 0, {list[0], list[1], list[2], list[3]}};
    c.processEvents(reinterpret_cast<vst::VstEvents*>(&events));
}

void BM_PlayedVocoder(benchmark::State& state) {
    kf::TMUniClient c(nullptr);
    c.setSampleRate(kRate);
    c.resume();
    c.setParameter(kf::tag::modulator_mode, 1.0f);
    c.setParameter(kf::tag::carrier_mode, 0.0f);
    c.setParameter(kf::tag::mix, 1.0f);
    c.setParameter(kf::tag::in1_gain, 0.125f);
    c.setParameter(kf::tag::in1_gate, 1.0f);
    c.setParameter(kf::tag::waveform, 0.5f);
    c.setParameter(kf::tag::noise, 0.1f);
    c.setParameter(kf::tag::synth_level, 0.5f);
    c.setParameter(kf::tag::effects_choice, static_cast<float>(state.range(0)) / 5.0f + 0.01f);
    // Every effect audibly at work (a reverb or delay at zero mix goes idle).
    for (int32_t t = kf::tag::reverb_room; t <= kf::tag::lofi_distortion; ++t) c.setParameter(t, 0.5f);
    playChord(c);
    const std::vector<float> voice = voiceLike(kBlock * 64);
    std::vector<float> silence(kBlock, 0.0f), l(kBlock), r(kBlock);
    std::size_t at = 0;
    for (auto _ : state) {
        float* in[2] = {const_cast<float*>(voice.data()) + at, silence.data()};
        float* out[2] = {l.data(), r.data()};
        c.processReplacing(in, out, kBlock);
        benchmark::DoNotOptimize(l.data());
        at = (at + kBlock) % voice.size();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
    const double seconds = static_cast<double>(kBlock) / kRate;
    state.counters["s/frame"] =
        benchmark::Counter(static_cast<double>(kBlock),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}
// Argument: the insert effect (0 none, 1 reverb, 2 delay, 3 phaser, 4 lo-fi).
BENCHMARK(BM_PlayedVocoder)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);

}  // namespace
