// The insert-effect slot as the host hears it: which effect runs, what it remembers when
// the choice changes, and that suspend silences every effect.
#include <gtest/gtest.h>

#include <cmath>

#include "fake_host.h"

namespace kf::test {
namespace {

// effects_choice values that pick each effect.
namespace EffectChoiceValue {
constexpr float kReverb = 0.2f;
constexpr float kDelay = 0.4f;
}  // namespace EffectChoiceValue

class EffectSlot : public ::testing::Test {
  protected:
    std::unique_ptr<TMUniClient> make(float choice) {
        auto c = makeInstance(host);
        c->setSampleRate(44100.0f);
        c->resume();
        c->setParameter(tag::modulator_mode, 0.0f);  // host inputs only: no notes needed
        c->setParameter(tag::carrier_mode, 0.0f);
        c->setParameter(tag::in_b, 0.0f);
        c->setParameter(tag::mix, 0.0f);  // the dry path: an impulse stays an impulse
        c->setParameter(tag::in1_gate, 1.0f);
        c->setParameter(tag::in1_gain, 0.125f);
        c->setParameter(tag::master_level, 0.25f);
        c->setParameter(tag::mastercomp, 0.0f);
        c->setParameter(tag::effects_choice, choice);
        return c;
    }
    // Renders `frames` of input (an impulse at frame 200, after the input gain has ramped up
    // from 0, when asked), returns the left output.
    static std::vector<float> run(TMUniClient& c, int frames, bool impulse) {
        std::vector<float> a(static_cast<std::size_t>(frames), 0.0f), l(a.size()), r(a.size());
        if (impulse) a[200] = 0.5f;
        for (int done = 0; done < frames; done += 300) {
            const int n = std::min(300, frames - done);
            float* in[2] = {a.data() + done, a.data() + done};
            float* out[2] = {l.data() + done, r.data() + done};
            c.processReplacing(in, out, n);
        }
        return l;
    }
    static double energy(const std::vector<float>& x, std::size_t from, std::size_t to) {
        double e = 0;
        for (std::size_t i = from; i < to && i < x.size(); ++i) e += x[i] * x[i];
        return e;
    }
    FakeHost host;
};

TEST_F(EffectSlot, NoEffectLeavesTheSumUntouchedWhateverTheEffectKnobs) {
    auto a = make(0.0f);
    auto b = make(0.0f);
    for (int32_t t = tag::reverb_room; t <= tag::lofi_distortion; ++t) b->setParameter(t, 0.9f);
    EXPECT_EQ(run(*a, 5000, true), run(*b, 5000, true));
}

TEST_F(EffectSlot, SwitchingAwayAndBackContinuesTheEffect) {
    // The same impulse, then three seconds without an effect, then the reverb: only the
    // instance whose reverb heard the impulse has a tail to go on with.
    double tail[2];
    for (int heard = 0; heard < 2; ++heard) {
        auto c = make(heard ? EffectChoiceValue::kReverb : 0.0f);
        c->setParameter(tag::reverb_room, 0.9f);
        c->setParameter(tag::reverb_drywet, 1.0f);
        run(*c, 2000, true);
        c->setParameter(tag::effects_choice, 0.0f);
        run(*c, 3000, false);
        c->setParameter(tag::effects_choice, EffectChoiceValue::kReverb);
        tail[heard] = energy(run(*c, 2000, false), 0, 2000);
    }
    EXPECT_GT(tail[1], 1000.0 * tail[0]);
}

// A played vocoder (a held chord shaped by noise on input A) through each effect at its
// longest memory; then a suspend and a resume, and input A falls silent: from there on the
// output is silent, though the chord is still held. Without the suspend the vocoder's band
// states and the effect ring on.
TEST_F(EffectSlot, SuspendAndResumeStartEveryEffectFromSilence) {
    const float choices[] = {EffectChoiceValue::kReverb, EffectChoiceValue::kDelay, 0.6f, 0.8f};
    for (float choice : choices) {
        for (bool suspend : {false, true}) {
            auto c = make(choice);
            c->setParameter(tag::modulator_mode, 1.0f);  // the synthesizer is the carrier
            c->setParameter(tag::mix, 1.0f);
            for (auto [t, v] : {std::pair{tag::synth_level, 0.5f},
                                {tag::waveform, 0.5f},
                                {tag::octave, 0.5f},
                                {tag::filtertype, 1.0f},
                                {tag::cutoff, 1.0f},
                                {tag::focus, 0.6f},
                                {tag::response, 0.0f},
                                {tag::eq_low, 0.5f},
                                {tag::eq_mid, 0.5f},
                                {tag::eq_high, 0.5f}})
                c->setParameter(t, v);
            for (int32_t t : {tag::reverb_room, tag::reverb_drywet, tag::delay_drywet, tag::delay_feedback,
                              tag::phaser_feedback, tag::lofi_samplerate})
                c->setParameter(t, 1.0f);
            sendMidi(*c, {{0x90, 48, 100}, {0x90, 55, 100}, {0x90, 60, 100}});
            // Below the stage-1 gate's threshold: the stage passes input A at its gain.
            std::vector<float> noise(44032), silence(noise.size(), 0.0f), l(noise.size()), r(noise.size());
            uint32_t seed = 1;
            for (float& x : noise)
                x = static_cast<float>((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0f - 0.5f;
            for (std::size_t done = 0; done < noise.size(); done += 512) {
                float* in[2] = {noise.data() + done, silence.data() + done};
                float* out[2] = {l.data() + done, r.data() + done};
                c->processReplacing(in, out, 512);
            }
            if (suspend) {
                c->suspend();
                c->resume();
            }
            const std::vector<float> out = run(*c, 22050, false);  // 0.1 to 0.5 s after
            const double rms = std::sqrt(energy(out, 4410, 22050) / (22050 - 4410));
            if (suspend)
                EXPECT_LT(rms, 1e-6) << "choice " << choice << ": history survived a suspend";
            else
                EXPECT_GT(rms, 1e-4) << "choice " << choice << ": control run, the sound should ring on";
        }
    }
}

}  // namespace
}  // namespace kf::test
