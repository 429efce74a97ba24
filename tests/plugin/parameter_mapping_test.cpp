// Normalised values into engine values: truncations, choices, dB and coefficient
// derivations, the dependent mode values and the collections the chunks walk.
#include <gtest/gtest.h>

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
    FakeHost host;
    std::unique_ptr<TMUniClient> c;
};

TEST_F(Mapping, CollectionsFollowTheTable) {
    const ParameterSet& p = c->parameters();
    EXPECT_EQ(p.all().size(), 59u);
    for (int i = 0; i < kNumStoredParameters; ++i) {
        EXPECT_EQ(p.stored()[static_cast<std::size_t>(i)]->chunkId, i + 1);
        EXPECT_NE(p.stored()[static_cast<std::size_t>(i)]->value, nullptr);
    }
    for (int32_t i = 0; i < kNumHostParameters; ++i) {
        ASSERT_NE(p.hostParameter(i), nullptr);
        EXPECT_EQ(p.hostParameter(i)->tag, i);
    }
    EXPECT_EQ(p.hostParameter(44), nullptr);
    int switches = 0;
    for (const TMParameter& t : p.all()) switches += t.isSwitch();
    EXPECT_EQ(switches, 3);  // loop, transpose_up, transpose_down
}

TEST_F(Mapping, OctaveTruncatesTowardZero) {
    EXPECT_EQ(scaledAt(tag::octave, 0.0f), -24.0f);
    EXPECT_EQ(scaledAt(tag::octave, 0.01f), -12.0f);
    EXPECT_EQ(scaledAt(tag::octave, 0.25f), -12.0f);
    EXPECT_EQ(scaledAt(tag::octave, 0.26f), 0.0f);
    EXPECT_EQ(scaledAt(tag::octave, 0.74f), 0.0f);
    EXPECT_EQ(scaledAt(tag::octave, 0.75f), 12.0f);
    EXPECT_EQ(scaledAt(tag::octave, 0.99f), 12.0f);
    EXPECT_EQ(scaledAt(tag::octave, 1.0f), 24.0f);
    EXPECT_EQ(c->synth().octave(), 24.0f);
}

TEST_F(Mapping, ChoicesAreCappedAtTheirLastEntry) {
    EXPECT_EQ(scaledAt(tag::filtertype, 0.66f), 1.0f);
    for (float v : {2.0f / 3.0f + 1e-6f, 0.8f, 1.0f, 7.0f}) {
        c->setParameter(tag::filtertype, v);
        EXPECT_EQ(rec(tag::filtertype).integer, 2) << v;
        EXPECT_EQ(c->synth().filterType(), 2);
    }
    EXPECT_EQ(scaledAt(tag::retrigger, 0.74f), 2.0f);
    EXPECT_EQ(scaledAt(tag::retrigger, 0.75f), 3.0f);
    EXPECT_EQ(c->sampler().triggerSource(), 3);
    EXPECT_EQ(scaledAt(tag::effects_choice, 0.08f), 0.0f);
    EXPECT_EQ(scaledAt(tag::effects_choice, 0.2f), 1.0f);  // 1.001 truncates to 1
    EXPECT_EQ(scaledAt(tag::effects_choice, 1.0f), 4.0f);
    EXPECT_EQ(scaledAt(tag::effects_choice, 50.0f), 4.0f);
    EXPECT_EQ(scaledAt(tag::carrier_mode, 0.5f), 2.0f);
    EXPECT_EQ(scaledAt(tag::modulator_mode, 0.3333f), 1.0f);
    // Values outside 0-1 are not clamped on entry, but a choice never indexes below its table.
    c->setParameter(tag::carrier_mode, -3.0f);
    EXPECT_EQ(rec(tag::carrier_mode).integer, -11);
    EXPECT_EQ(c->engine().carrierMode(), 0);
}

TEST_F(Mapping, SteppedValues) {
    EXPECT_FLOAT_EQ(scaledAt(tag::delaytime, 0.0f), 0.025f);
    EXPECT_FLOAT_EQ(scaledAt(tag::delaytime, 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(scaledAt(tag::delaytime, 0.5f), 0.5f);
    EXPECT_FLOAT_EQ(scaledAt(tag::phaser_rate, 0.0374f), 0.025f);
    EXPECT_FLOAT_EQ(scaledAt(tag::waveform, 0.25f), 1.0f);
    EXPECT_FLOAT_EQ(scaledAt(tag::sampler_pitch, 0.0f), -24.0f);
    EXPECT_NEAR(scaledAt(tag::sampler_pitch, 0.51f), 0.4f, 1e-5f);
    EXPECT_EQ(scaledAt(tag::pitchbend_range, 1.0f), 12.0f);
    EXPECT_EQ(scaledAt(tag::pitchbend_range, 0.999f), 11.0f);
    EXPECT_FLOAT_EQ(scaledAt(tag::mix, 1.0f), 0.999f);
    EXPECT_EQ(rec(tag::mix).integer, 1);
    EXPECT_FLOAT_EQ(scaledAt(tag::mix, -0.5f), 0.0f);
}

TEST_F(Mapping, DecibelsAndCoefficients) {
    c->setParameter(tag::in1_gate, 0.0f);
    EXPECT_FLOAT_EQ(c->engine().inputStage1().gateThresholdDb(), -160.0f);
    EXPECT_EQ(c->engine().inputStage1().gateThreshold(), 0.0f);
    c->setParameter(tag::in2_gate, 0.12345f);
    EXPECT_FLOAT_EQ(rec(tag::in2_gate).scaled, 0.1234f);
    EXPECT_FLOAT_EQ(c->engine().inputStage2().gateThreshold(), std::pow(0.1234f, 4.0f));
    c->setParameter(tag::in1_gain, 0.125f);
    EXPECT_NEAR(c->engine().inputStage1().gainDb(), 0.0f, 1e-5f);  // 8 x 0.125 = unity
    c->setParameter(tag::eq_mid, 0.5f);
    EXPECT_FLOAT_EQ(c->engine().master().eqMidGain(), 1.0f);
    c->setParameter(tag::eq_low, 1.0f);
    EXPECT_NEAR(c->engine().master().eqLowGain(), 3.981072f, 1e-5f);
    c->setParameter(tag::master_level, 0.25f);
    EXPECT_NEAR(c->engine().master().levelDb(), 0.0f, 1e-5f);
    c->setParameter(tag::in1_comp_speed, 1.0f);
    EXPECT_FLOAT_EQ(rec(tag::in1_comp_speed).scaled, 20.0f);
    c->setParameter(tag::compspeed, 0.0f);
    EXPECT_FLOAT_EQ(rec(tag::compspeed).scaled, 200.0f);
    c->setParameter(tag::resonance, 1.0f);
    EXPECT_FLOAT_EQ(c->synth().filterDamping(), 0.1f);
    c->setParameter(tag::cutoff, 1.0f);
    EXPECT_FLOAT_EQ(c->synth().filterCoefficient(), std::pow(0.99f, 4.0f));
    c->setParameter(tag::lofi_bitrate, 1.0f);
    EXPECT_FLOAT_EQ(c->effect(4)->parameterValue(0), 0.5f);  // the effect gets 0.5v
    c->setParameter(tag::lofi_bitrate, 0.0f);
    EXPECT_FLOAT_EQ(c->effect(4)->parameterValue(0), 0.0f);
}

TEST_F(Mapping, BandTablesFollowFocusShiftAndResponse) {
    c->setParameter(tag::shift, 0.5f);
    c->setParameter(tag::focus, 0.5f);
    const VocoderBank& bank = c->engine().vocoder();
    EXPECT_FLOAT_EQ(bank.spacing(), 1.05f);
    for (int k = 0; k < 32; ++k) EXPECT_EQ(bank.fa(k), bank.fs(k)) << k;
    c->setParameter(tag::response, 1.0f);
    EXPECT_FLOAT_EQ(bank.releaseMs(), 10.0f);
    EXPECT_NEAR(bank.q1(0), 0.19f, 1e-6f);
    EXPECT_NEAR(bank.q2(0), 0.3196f, 1e-6f);
    EXPECT_EQ(bank.q1(10), 1.0f);
}

TEST_F(Mapping, PulseWidthAndBend) {
    c->setParameter(tag::pulswidth, 0.5f);
    EXPECT_EQ(c->synth().warp(), 0.0f);
    EXPECT_EQ(c->synth().voice(0).split, 0.5f);
    EXPECT_EQ(c->synth().voice(2).slotOffset[1], 0.0f);
    c->setParameter(tag::pulswidth, 1.0f);
    EXPECT_NEAR(c->synth().voice(3).split, 0.01f, 1e-6f);
    c->setParameter(tag::pitchbend_range, 1.0f);
    c->setParameter(tag::pitchbend, 1.0f);
    EXPECT_EQ(c->synth().bendOffset(), 12.0f);
    c->setParameter(tag::pitchbend, 0.25f);
    EXPECT_EQ(c->synth().bendOffset(), -6.0f);
}

TEST_F(Mapping, NonFiniteValuesChangeNothing) {
    c->setParameter(tag::focus, 0.3f);
    const float spacing = c->engine().vocoder().spacing();
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity()}) {
        for (int32_t t = 0; t <= kMaxTag; ++t) c->setParameter(t, bad);
        EXPECT_EQ(rec(tag::focus).value, 0.3f);
        EXPECT_EQ(c->engine().vocoder().spacing(), spacing);
        for (int32_t t = 0; t <= kMaxTag; ++t) ASSERT_FALSE(std::isnan(rec(t).value)) << t;
    }
}

TEST_F(Mapping, HugeFiniteValuesStayDefined) {
    // Truncations saturate instead of overflowing an integer.
    for (float v : {1e30f, -1e30f, 3e9f}) {
        for (int32_t t = 0; t <= kMaxTag; ++t) c->setParameter(t, v);
    }
    EXPECT_EQ(rec(tag::octave).integer, INT32_MAX);
    EXPECT_EQ(c->synth().filterType(), 2);
}

TEST_F(Mapping, UnmappedTagsAndOutOfRangeIndicesAreIgnored) {
    c->setParameter(126, 0.7f);
    c->setParameter(-5, 0.7f);
    for (int32_t t : {44, 78, 119, 120, 122}) {
        c->setParameter(t, 0.7f);
        EXPECT_EQ(rec(t).value, 0.0f) << t;
    }
}

TEST_F(Mapping, ModulatorModeDrivesSynthAndInputStageTwo) {
    c->setParameter(tag::modulator_mode, 1.0f);
    EXPECT_EQ(rec(tag::synthoff).value, 1.0f);
    EXPECT_EQ(rec(tag::in_b).value, 1.0f);
    c->setParameter(tag::modulator_mode, 0.0f);
    EXPECT_EQ(rec(tag::synthoff).value, 0.0f);
    EXPECT_EQ(rec(tag::in_b).value, 0.0f);
    c->setParameter(tag::modulator_mode, 1.0f);
    c->setParameter(tag::in_b, 0.0f);  // the user turns the stage back on
    c->setParameter(tag::modulator_mode, 1.0f);
    EXPECT_EQ(rec(tag::in_b).value, 0.0f) << "no change of mode, no change of the dependent value";
}

TEST_F(Mapping, CarrierModeThreeFreezesInputStageOne) {
    c->setParameter(tag::carrier_mode, 0.0f);
    EXPECT_EQ(rec(tag::in_a).value, 0.0f);
    c->setParameter(tag::carrier_mode, 1.0f);
    EXPECT_EQ(rec(tag::in_a).value, 1.0f);
    EXPECT_EQ(c->engine().carrierMode(), 3);
}

TEST_F(Mapping, InitialValuesBeforeAnyProgram) {
    EXPECT_EQ(rec(tag::effects_choice).integer, 0);
    EXPECT_EQ(rec(tag::carrier_mode).integer, 3);
    EXPECT_EQ(rec(tag::modulator_mode).integer, 0);
    EXPECT_EQ(rec(tag::in_a).value, 1.0f);  // follows carrier mode 3
    EXPECT_EQ(rec(tag::pitchbend).value, 0.5f);
    EXPECT_EQ(c->synth().bend(), 0.0f);
    EXPECT_FLOAT_EQ(rec(tag::modwheel).value, 0.12f);
}

}  // namespace
}  // namespace kf::test
