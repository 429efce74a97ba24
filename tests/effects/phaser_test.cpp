#include <gtest/gtest.h>

#include <string>

#include "effect_test_support.h"

namespace kf::test {
namespace {

class PhaserTest : public ::testing::Test {
  protected:
    TMPhaser& phaser() { return rig.effects->phaser; }
    Rig rig;
};

TEST_F(PhaserTest, SyncedRateFollowsTheNoteLengthAndTheTempo) {
    rig.setKnob(tag::phaser_rate, 1.0f);  // "1//32": 2756 samples at 120 bpm
    EXPECT_NEAR(phaser().lfoIncrement(), 6.2831855f / (2756.0f / 32.0f), 1e-7f);
    const float before = phaser().lfoPhase();
    phaser().controlTick();
    EXPECT_NEAR(phaser().lfoPhase() - before, 0.0729f, 1e-4f);

    // Half the tempo: twice the period, at once, and the mix is left alone.
    std::vector<float> in = noise(256, 0.5f, 20), outL, outR;
    Driver(&phaser()).run(in, in, outL, outR);
    ASSERT_EQ(phaser().currentMix(), 1.0f);
    rig.changeTempo(60.0);
    EXPECT_NEAR(phaser().lfoIncrement(), 6.2831855f / (5512.0f / 32.0f), 1e-7f);
    EXPECT_EQ(phaser().currentMix(), phaser().mixTarget());

    // "Off" stands the sweep still.
    rig.setKnob(tag::phaser_rate, 0.0f);
    const float held = phaser().lfoPhase();
    for (int i = 0; i < 10; ++i) phaser().controlTick();
    EXPECT_EQ(phaser().lfoPhase(), held);
}

// The stages knob gives one to seven sections, and the chain really runs that many: compare
// the wet output with a plain all-pass cascade at the same (standing) coefficient.
TEST_F(PhaserTest, StagesKnobGivesOneToSevenSectionsOfAPlainAllPassCascade) {
    const std::pair<float, int32_t> cases[] = {
        {0.0f, 1}, {1.0f, 7}, {4.0f / 7.0f - 0.001f, 4}, {3.0f / 7.0f + 0.001f, 4}};
    for (const auto& [v, stages] : cases) {
        rig.setKnob(tag::phaser_stages, v);
        EXPECT_EQ(phaser().stages(), stages) << v;
    }
    rig.setKnob(tag::phaser_rate, 0.0f);      // LFO off: phase 0
    rig.setKnob(tag::phaser_feedback, 0.0f);  // no feedback
    const float lowest = 440.0f / 22050.0f, highest = 1600.0f / 22050.0f;
    const float w = lowest + 0.5f * (highest - lowest);  // the sweep is 0.5 at phase 0
    const float a = (1.0f - w) / (1.0f + w);
    const std::vector<float> in = noise(512, 0.5f, 21);
    for (int32_t stages = 1; stages <= 7; ++stages) {
        phaser().setParameter(3, (static_cast<float>(stages) - 1.0f) / 6.0f);
        phaser().takeParameters();
        ASSERT_EQ(phaser().stages(), stages);
        phaser().reset();
        phaser().controlTick();
        std::vector<float> l = in, r = in;
        phaser().processWet(l.data(), r.data(), static_cast<int32_t>(l.size()));

        float z[8] = {};
        for (std::size_t n = 0; n < in.size(); ++n) {
            float x = in[n] + 1e-10f;
            for (int32_t k = 0; k < stages; ++k) {
                const float y = z[k] - a * x;
                z[k] = x + 1e-10f + a * y;
                x = y;
            }
            ASSERT_FLOAT_EQ(l[n], 0.75f * (in[n] + 1e-10f) + phaser().depth() * x) << stages << " " << n;
        }
    }
}

TEST_F(PhaserTest, MixFadesInOverOneBlockFromCleanState) {
    rig.setKnob(tag::phaser_rate, 0.0f);
    Driver driver(&phaser());
    std::vector<float> in = noise(4096, 0.5f, 22), outL, outR;
    driver.run(in, in, outL, outR);  // history at full mix
    phaser().setDryWet(0.0f);
    driver.run(in, in, outL, outR);  // fades out, then idles
    EXPECT_EQ(phaser().currentMix(), 0.0f);
    std::vector<float> idleIn = noise(100, 0.5f, 23);
    driver.run(idleIn, idleIn, outL, outR);
    EXPECT_EQ(outL, idleIn);

    // Back on: the next tick starts a 32-sample ramp over a cleared chain, which must
    // match a phaser that never ran.
    phaser().setDryWet(1.0f);
    phaser().controlTick();
    Rig fresh;
    fresh.setKnob(tag::phaser_rate, 0.0f);
    TMPhaser& ref = fresh.effects->phaser;
    ref.controlTick();
    std::vector<float> x = noise(32, 0.5f, 24);
    std::vector<float> l = x, r = x, wl = x, wr = x;
    phaser().process(l.data(), r.data(), 32);
    ref.processWet(wl.data(), wr.data(), 32);
    for (int n = 0; n < 32; ++n) {
        const float m = static_cast<float>(n + 1) / 32.0f;
        EXPECT_FLOAT_EQ(l[n], m * wl[n] + (1.0f - m) * x[n]) << n;
    }
    EXPECT_EQ(phaser().currentMix(), 1.0f);
}

}  // namespace
}  // namespace kf::test
