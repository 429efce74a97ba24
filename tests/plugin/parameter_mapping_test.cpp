// The parameter model: what the table's laws make of normalised values at their edges, where
// each value lands in the engine and effects, the values no host input may break, the mode
// rules with their dependent values, and the editor's readout texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "fake_host.h"

namespace kf::test {
namespace {

class Mapping : public ::testing::Test {
  protected:
    void SetUp() override { c = makeInstance(host); }
    const ParameterRecord& rec(int32_t t) { return c->parameters().at(t); }
    float scaledAt(int32_t t, float v) {
        c->setParameter(t, v);
        return rec(t).scaled;
    }
    // The audio thread's next block, which takes over the values set.
    void nextBlock() {
        const std::vector<float> silence(32, 0.0f);
        render(*c, silence, silence, 32);
    }
    FakeHost host;
    std::unique_ptr<TMUniClient> c;
};

// Working values at the edges of truncations, steps and choice caps.
TEST_F(Mapping, WorkingValuesAtTheirEdges) {
    const struct {
        int32_t tag;
        float v, expected;
    } cases[] = {
        {tag::octave, 0.0f, -24.0f},
        {tag::octave, 0.01f, -12.0f},
        {tag::octave, 0.25f, -12.0f},
        {tag::octave, 0.26f, 0.0f},
        {tag::octave, 0.74f, 0.0f},
        {tag::octave, 0.75f, 12.0f},
        {tag::octave, 1.0f, 24.0f},
        {tag::filtertype, 0.66f, 1.0f},
        {tag::filtertype, 0.6667f, 2.0f},
        {tag::filtertype, 7.0f, 2.0f},
        {tag::retrigger, 0.74f, 2.0f},
        {tag::retrigger, 0.75f, 3.0f},
        {tag::effects_choice, 0.08f, 0.0f},
        {tag::effects_choice, 0.2f, 1.0f},
        {tag::effects_choice, 50.0f, 4.0f},
        {tag::carrier_mode, 0.5f, 2.0f},
        {tag::modulator_mode, 0.3333f, 1.0f},
        {tag::delaytime, 0.0f, 0.025f},
        {tag::delaytime, 1.0f, 1.0f},
        {tag::phaser_rate, 0.0374f, 0.025f},
        {tag::waveform, 0.25f, 1.0f},
        {tag::sampler_pitch, 0.0f, -24.0f},
        {tag::pitchbend_range, 0.999f, 11.0f},
        {tag::in2_gate, 0.12345f, 0.1234f},
        {tag::in1_comp_speed, 1.0f, 20.0f},
        {tag::compspeed, 0.0f, 200.0f},
        {tag::reverb_drywet, 0.5f, 0.125f},
        {tag::mix, -0.5f, 0.0f},
    };
    for (const auto& k : cases) EXPECT_FLOAT_EQ(scaledAt(k.tag, k.v), k.expected) << k.tag << " at " << k.v;
    EXPECT_NEAR(scaledAt(tag::sampler_pitch, 0.51f), 0.4f, 1e-5f);
}

// The working values reach the parts that use them.
TEST_F(Mapping, ValuesLandInTheEngineAndTheEffects) {
    using Read = float (*)(TMUniClient&);
    const struct {
        int32_t tag;
        float v;
        Read read;
        float expected;
    } cases[] = {
        {tag::octave, 1.0f, [](TMUniClient& k) { return k.synth().octave(); }, 24.0f},
        {tag::filtertype, 0.8f, [](TMUniClient& k) { return float(k.synth().filterType()); }, 2.0f},
        {tag::retrigger, 0.75f, [](TMUniClient& k) { return float(k.sampler().triggerSource()); }, 3.0f},
        {tag::in1_gate, 0.0f, [](TMUniClient& k) { return k.engine().inputStage1().gateThresholdDb(); },
         -160.0f},
        {tag::in2_gate, 0.12345f, [](TMUniClient& k) { return k.engine().inputStage2().gateThreshold(); },
         std::pow(0.1234f, 4.0f)},
        {tag::in1_gain, 0.125f, [](TMUniClient& k) { return k.engine().inputStage1().gainDb(); }, 0.0f},
        {tag::eq_low, 1.0f, [](TMUniClient& k) { return k.engine().master().eqLowGain(); }, 3.981072f},
        {tag::master_level, 0.25f, [](TMUniClient& k) { return k.engine().master().levelDb(); }, 0.0f},
        {tag::resonance, 1.0f, [](TMUniClient& k) { return k.synth().filterDamping(); }, 0.1f},
        {tag::cutoff, 1.0f, [](TMUniClient& k) { return k.synth().filterCoefficient(); },
         std::pow(0.99f, 4.0f)},
        {tag::response, 1.0f, [](TMUniClient& k) { return k.engine().vocoder().releaseMs(); }, 10.0f},
        {tag::lofi_bitrate, 1.0f, [](TMUniClient& k) { return k.effect(4)->parameterValue(0); }, 0.5f},
        {tag::delay_drywet, 0.5f, [](TMUniClient& k) { return k.effect(2)->mix(); }, 0.125f},  // cubed
        {tag::carrier_mode, -3.0f, [](TMUniClient& k) { return float(k.engine().carrierMode()); }, 0.0f},
    };
    for (const auto& k : cases) {
        c->setParameter(k.tag, k.v);
        nextBlock();
        EXPECT_NEAR(k.read(*c), k.expected, 1e-5f * std::max(1.0f, std::fabs(k.expected))) << k.tag;
    }
    c->setParameter(tag::pitchbend_range, 1.0f);
    c->setParameter(tag::pitchbend, 0.25f);
    nextBlock();
    EXPECT_EQ(c->synth().bendOffset(), -6.0f);
    c->setParameter(tag::shift, 0.5f);
    c->setParameter(tag::focus, 0.5f);
    EXPECT_FLOAT_EQ(c->engine().vocoder().spacing(), 1.05f);
}

TEST_F(Mapping, NonFiniteHugeAndUnknownValuesChangeNothingOrStayDefined) {
    c->setParameter(tag::focus, 0.3f);
    const float spacing = c->engine().vocoder().spacing();
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity()}) {
        for (int32_t t = 0; t <= kMaxTag; ++t) c->setParameter(t, bad);
        EXPECT_EQ(rec(tag::focus).value, 0.3f);
        EXPECT_EQ(c->engine().vocoder().spacing(), spacing);
    }
    for (float v : {1e30f, -1e30f, 3e9f})  // truncations saturate instead of overflowing
        for (int32_t t = 0; t <= kMaxTag; ++t) c->setParameter(t, v);
    EXPECT_EQ(rec(tag::octave).integer, INT32_MAX);
    nextBlock();
    EXPECT_EQ(c->synth().filterType(), 2);
    c->setParameter(kMaxTag + 1, 0.7f);
    c->setParameter(-5, 0.7f);
    for (int32_t t : {44, 78, 119, 120, 122}) {  // no row, the sample, the editor's page buttons
        c->setParameter(t, 0.7f);
        EXPECT_EQ(rec(t).value, 0.0f) << t;
    }
}

TEST_F(Mapping, ModesDriveTheirDependentValuesOnlyWhenTheyChange) {
    EXPECT_EQ(rec(tag::carrier_mode).integer, 3);  // the initial values before any program
    EXPECT_EQ(rec(tag::in_a).value, 1.0f);         // ...with in_a following carrier mode 3
    EXPECT_EQ(c->synth().bend(), 0.0f);
    c->setParameter(tag::carrier_mode, 0.0f);
    EXPECT_EQ(rec(tag::in_a).value, 0.0f);
    c->setParameter(tag::modulator_mode, 1.0f);
    EXPECT_EQ(rec(tag::synthoff).value, 1.0f);
    EXPECT_EQ(rec(tag::in_b).value, 1.0f);
    c->setParameter(tag::in_b, 0.0f);  // the user turns the stage back on
    c->setParameter(tag::modulator_mode, 1.0f);
    EXPECT_EQ(rec(tag::in_b).value, 0.0f) << "no change of mode, no change of the dependent value";
    const uint32_t refreshes = c->editorRefresh().requests();
    c->setParameter(tag::modulator_mode, 0.0f);
    EXPECT_EQ(rec(tag::synthoff).value, 0.0f);
    EXPECT_GT(c->editorRefresh().requests(), refreshes) << "the editor shows the other panel";
}

// A learned controller drives its parameter from the audio thread, and the value it sets
// there (which processes under truncation) is the value the host thread would have made:
// +24 semitones, not 23.9.
TEST_F(Mapping, LearnedControllersSetTheSameValuesAsTheHost) {
    const std::vector<float> silence(64, 0.0f);
    c->resume();
    c->armLearn(tag::cutoff);
    sendMidi(*c, {{0xB0, 74, 0}});
    render(*c, silence, silence, 64);
    c->armLearn(tag::sampler_pitch);
    sendMidi(*c, {{0xB0, 20, 127}});  // learns controller 20 and applies 127 / 127 = 1.0
    render(*c, silence, silence, 64);
    EXPECT_EQ(c->getParameter(tag::cutoff), 0.0f);
    EXPECT_FLOAT_EQ(c->synth().cutoff(), 0.3f);
    ASSERT_EQ(c->getParameter(tag::sampler_pitch), 1.0f);
    const float fromAudioThread = c->sampler().pitch();
    c->setParameter(tag::sampler_pitch, 1.0f);
    nextBlock();
    EXPECT_EQ(fromAudioThread, c->sampler().pitch());
    EXPECT_FLOAT_EQ(fromAudioThread, 24.0f);
    EXPECT_TRUE(c->assignController(tag::cutoff, 75, 0));
    EXPECT_TRUE(c->midi().map(74).empty());
    EXPECT_EQ(c->midi().map(75).size(), 1u);
    // The parameters added after the internal tags are learnable too.
    c->armLearn(tag::consonants);
    sendMidi(*c, {{0xB0, 21, 127}});
    render(*c, silence, silence, 64);
    EXPECT_EQ(c->parameters().value(tag::consonants), 1.0f);
}

}  // namespace
}  // namespace kf::test
