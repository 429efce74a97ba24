// The insert-effect slot as the host hears it: which effect runs, what it remembers when
// the choice changes, and that suspend silences every effect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "fake_host.h"

namespace kf::test {
namespace {

// effects_choice values that pick each effect.
constexpr float kReverb = 0.2f, kDelay = 0.4f, kPhaser = 0.6f, kLofi = 0.8f;

class EffectSlot : public ::testing::Test {
  protected:
    // Host input A only, through the dry path: an impulse stays an impulse.
    std::unique_ptr<TMUniClient> make(float choice) {
        auto c = makeNeutralInstance(host);
        setAll(*c, {Value(tag::modulator_mode, 0.0f), Value(tag::carrier_mode, 0.0f), Value(tag::in_b, 0.0f),
                    Value(tag::mix, 0.0f), Value(tag::effects_choice, choice)});
        return c;
    }
    // Renders `frames` of input (an impulse at frame 200, after the input gain has ramped up
    // from 0, when asked), returns the left output.
    static std::vector<float> run(TMUniClient& c, int frames, bool impulse) {
        std::vector<float> a(static_cast<std::size_t>(frames), 0.0f);
        if (impulse) a[200] = 0.5f;
        return render(c, a, a, 300);
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
        auto c = make(heard ? kReverb : 0.0f);
        setAll(*c, {Value(tag::reverb_room, 0.9f), Value(tag::reverb_drywet, 1.0f)});
        run(*c, 2000, true);
        c->setParameter(tag::effects_choice, 0.0f);
        run(*c, 3000, false);
        c->setParameter(tag::effects_choice, kReverb);
        tail[heard] = energy(run(*c, 2000, false));
    }
    EXPECT_GT(tail[1], 1000.0 * tail[0]);
}

// A state set after the host's sample-rate set-up (a project being restored) echoes at its own
// delay time from the first echo on, at the host's tempo from the first block, instead of
// gliding there (late and detuned) from the time it replaced or from the 120 BPM bar.
TEST_F(EffectSlot, ARestoredDelayTimeHoldsFromTheFirstEcho) {
    for (const double bpm : {0.0, 90.0}) {  // 0: no host time, so 120 BPM
        host.hasTime = bpm > 0.0;
        host.time.tempo = bpm;
        auto c = make(kDelay);
        setAll(*c, {Value(tag::delaytime, 0.25f), Value(tag::delay_feedback, 0.0f),
                    Value(tag::delay_drywet, 1.0f)});
        const std::vector<float> out = run(*c, 30000, true);
        std::size_t loudest = 0;
        for (std::size_t i = 0; i < out.size(); ++i)
            if (std::fabs(out[i]) > std::fabs(out[loudest])) loudest = i;
        // A quarter of the bar (88200 frames at 120 BPM, 117600 at 90) after the impulse.
        ASSERT_EQ(loudest, 200u + (bpm > 0.0 ? 29399u : 22049u)) << bpm;
        // Read at the recording speed from a whole-sample distance, the impulse comes back as
        // one sample; a moving head spreads it over its neighbours.
        EXPECT_LT(std::max(std::fabs(out[loudest - 1]), std::fabs(out[loudest + 1])),
                  0.02f * std::fabs(out[loudest]))
            << bpm;
    }
}

// A played vocoder (a held chord shaped by noise on input A) through each effect at its
// longest memory; then a suspend and a resume, and input A falls silent: from there on the
// output is silent, though the chord is still held. Without the suspend the vocoder's band
// states and the effect ring on.
TEST_F(EffectSlot, SuspendAndResumeStartEveryEffectFromSilence) {
    for (float choice : {kReverb, kDelay, kPhaser, kLofi}) {
        for (bool suspend : {false, true}) {
            auto c = make(choice);
            makePlayedVocoder(*c);
            setAll(*c,
                   {Value(tag::synth_level, 0.5f), Value(tag::waveform, 0.5f), Value(tag::response, 0.0f)});
            for (int32_t t : {tag::reverb_room, tag::reverb_drywet, tag::delay_drywet, tag::delay_feedback,
                              tag::phaser_feedback, tag::lofi_samplerate})
                c->setParameter(t, 1.0f);
            sendMidi(*c, {{0x90, 48, 100}, {0x90, 55, 100}, {0x90, 60, 100}});
            // Below the stage-1 gate's threshold: the stage passes input A at its gain.
            std::vector<float> noise(44032);
            uint32_t seed = 1;
            for (float& x : noise)
                x = static_cast<float>((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0f - 0.5f;
            render(*c, noise, std::vector<float>(noise.size(), 0.0f), 512);
            if (suspend) {
                c->suspend();
                c->resume();
            }
            const std::vector<float> out = run(*c, 22050, false);  // 0.1 to 0.5 s after
            const double rms = std::sqrt(energy(out, 4410) / (22050 - 4410));
            if (suspend)
                EXPECT_LT(rms, 1e-6) << "choice " << choice << ": history survived a suspend";
            else
                EXPECT_GT(rms, 1e-4) << "choice " << choice << ": control run, the sound should ring on";
        }
    }
}

// Tempo automation retimes the delay and the phaser but never clears a tail: the reverb's and
// the delay's output after a burst is (nearly) what it is at a steady tempo.
TEST_F(EffectSlot, TailsSurviveATempoRamp) {
    host.hasTime = true;
    for (float choice : {kReverb, kDelay}) {
        double tail[2];
        for (int ramp = 0; ramp < 2; ++ramp) {
            host.time.tempo = 120.0;
            auto c = make(choice);
            // A tenth of the bar: echoes every 0.2 s.
            setAll(*c, {Value(tag::reverb_room, 0.9f), Value(tag::reverb_drywet, 1.0f),
                        Value(tag::delaytime, 0.1f), Value(tag::delay_feedback, 0.6f),
                        Value(tag::delay_drywet, 1.0f)});
            run(*c, 1000, true);
            tail[ramp] = 0.0;
            for (int block = 0; block < 100; ++block) {
                if (ramp) host.time.tempo += 0.02;
                tail[ramp] += energy(run(*c, 512, false));
            }
        }
        EXPECT_GT(tail[0], 1e-3) << "control run: a tail is there";
        EXPECT_GT(tail[1], 0.5 * tail[0]) << "effect choice " << choice;
    }
    host.hasTime = false;
}

}  // namespace
}  // namespace kf::test
