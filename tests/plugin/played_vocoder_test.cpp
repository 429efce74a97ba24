// The played vocoder end to end through the host interface: MIDI notes in, the carrier
// synthesizer shaped by input A's band envelopes out.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "fake_host.h"

namespace kf::test {
namespace {

constexpr float kRate = 44100.0f;

class PlayedVocoder : public ::testing::Test {
  protected:
    void SetUp() override {
        c = makeInstance(host);
        vst::AEffect* e = c->getAeffect();
        e->dispatcher(e, vst::effSetSampleRate, 0, 0, nullptr, kRate);
        e->dispatcher(e, vst::effMainsChanged, 0, 1, nullptr, 0.0f);
        c->setParameter(tag::modulator_mode, 1.0f);  // the synthesizer is the carrier
        c->setParameter(tag::carrier_mode, 0.0f);    // input A is analysed on both sides
        c->setParameter(tag::mix, 1.0f);
        c->setParameter(tag::in1_gate, 1.0f);  // closed gate: stage 1 passes at 8 x gain
        c->setParameter(tag::in1_gain, 0.125f);
        c->setParameter(tag::focus, 0.6f);
        c->setParameter(tag::shift, 0.5f);
        c->setParameter(tag::response, 0.3f);
        c->setParameter(tag::waveform, 1.0f);  // sine: only the notes themselves
        c->setParameter(tag::octave, 0.5f);    // no transposition
        c->setParameter(tag::pitchbend_range, 0.0f);
        c->setParameter(tag::pulswidth, 0.5f);
        c->setParameter(tag::noise, 0.0f);
        c->setParameter(tag::filtertype, 1.0f);  // low-pass
        c->setParameter(tag::cutoff, 1.0f);
        c->setParameter(tag::resonance, 0.0f);
        c->setParameter(tag::synth_level, 0.1f);  // quiet: keep the soft clips linear
        c->setParameter(tag::eq_low, 0.5f);
        c->setParameter(tag::eq_mid, 0.5f);
        c->setParameter(tag::eq_high, 0.5f);
        c->setParameter(tag::mastercomp, 0.0f);
        c->setParameter(tag::master_level, 0.25f);
        c->setParameter(tag::effects_choice, 0.0f);
    }

    // Renders white noise on input A (B silent) and returns the left output.
    std::vector<float> render(int frames) {
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
        std::vector<float> a(static_cast<std::size_t>(frames)), b(a.size(), 0.0f), l(a.size()), r(a.size());
        for (float& x : a) x = noise(rng);
        vst::AEffect* e = c->getAeffect();
        for (int done = 0; done < frames; done += 256) {
            const int n = std::min(256, frames - done);
            float* in[2] = {a.data() + done, b.data() + done};
            float* out[2] = {l.data() + done, r.data() + done};
            e->processReplacing(e, in, out, n);
        }
        return l;
    }

    // Magnitude of one frequency over the signal (a single DFT bin, Hann-windowed).
    static double level(const std::vector<float>& x, double hz, std::size_t from) {
        double re = 0, im = 0;
        const std::size_t n = x.size() - from;
        for (std::size_t i = 0; i < n; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / static_cast<double>(n));
            const double ph = 2 * M_PI * hz * static_cast<double>(i) / kRate;
            re += w * x[from + i] * std::cos(ph);
            im += w * x[from + i] * std::sin(ph);
        }
        return std::hypot(re, im);
    }

    static double noteHz(int n) { return 440.0 * std::pow(2.0, (n - 69) / 12.0); }

    FakeHost host;
    std::unique_ptr<TMUniClient> c;
};

TEST_F(PlayedVocoder, AHeldA4SoundsAt440Hz) {
    playNotes(*c, {69});
    const std::vector<float> out = render(3 * static_cast<int>(kRate));
    double bestHz = 0, best = 0;
    for (double hz = 400; hz <= 480; hz += 0.1) {
        const double v = level(out, hz, static_cast<std::size_t>(kRate));
        if (v > best) best = v, bestHz = hz;
    }
    EXPECT_NEAR(bestHz, 440.0, 1.0);
    EXPECT_GT(best, 10.0 * level(out, 300.0, static_cast<std::size_t>(kRate)));
}

TEST_F(PlayedVocoder, FiveHeldNotesSoundOnTheFourLowest) {
    playNotes(*c, {60, 64, 67, 72, 48});
    const std::vector<float> out = render(2 * static_cast<int>(kRate));
    const std::size_t from = static_cast<std::size_t>(kRate / 2);
    const double unheard = level(out, noteHz(72), from);
    for (int n : {48, 60, 64, 67}) EXPECT_GT(level(out, noteHz(n), from), 30.0 * unheard) << n;
    for (float f : out) ASSERT_TRUE(std::isfinite(f));
}

TEST_F(PlayedVocoder, SilenceWithoutNotes) {
    const std::vector<float> out = render(static_cast<int>(kRate));
    double energy = 0;
    for (std::size_t i = out.size() / 2; i < out.size(); ++i) energy += out[i] * out[i];
    EXPECT_LT(energy, 1e-6);
}

TEST_F(PlayedVocoder, LearnedControllerDrivesAParameterFromTheAudioThread) {
    c->armLearn(tag::cutoff);
    sendMidi(*c, {{0xB0, 74, 0}});
    render(64);
    EXPECT_EQ(c->getParameter(tag::cutoff), 0.0f);
    EXPECT_FLOAT_EQ(c->synth().cutoff(), 0.3f);
    EXPECT_TRUE(c->assignController(tag::cutoff, 75, 0));
    EXPECT_TRUE(c->midi().map(74).empty());
    EXPECT_EQ(c->midi().map(75).size(), 1u);
}

// A value set by a learned controller on the audio thread (which processes under truncation)
// is the value the host thread would have made: +24 semitones, not 23.9.
TEST_F(PlayedVocoder, WorkingValuesDoNotDependOnTheThreadThatSetThem) {
    c->armLearn(tag::sampler_pitch);
    sendMidi(*c, {{0xB0, 20, 127}});  // learns controller 20 and applies 127 / 127 = 1.0
    render(64);
    ASSERT_EQ(c->getParameter(tag::sampler_pitch), 1.0f);
    const float fromAudioThread = c->sampler().pitch();
    c->setParameter(tag::sampler_pitch, 1.0f);
    EXPECT_EQ(fromAudioThread, c->sampler().pitch());
    EXPECT_FLOAT_EQ(fromAudioThread, 24.0f);
}

}  // namespace
}  // namespace kf::test
