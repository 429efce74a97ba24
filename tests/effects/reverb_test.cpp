#include <gtest/gtest.h>

#include "effect_test_support.h"

namespace kf::test {
namespace {

class ReverbTest : public ::testing::Test {
  protected:
    TMReverb& reverb() { return rig.effects->reverb; }

    // Samples until the impulse response stays below -60 dB of its peak.
    std::size_t decayLength(float room) {
        Rig r;
        r.setKnob(tag::reverb_room, room);
        r.setKnob(tag::reverb_drywet, 1.0f);
        std::vector<float> in(200000, 0.0f), outL, outR;
        in[0] = 1.0f;
        Driver(&r.effects->reverb).run(in, in, outL, outR);
        const float limit = 1e-3f * peak(outL);
        std::size_t last = 0;
        for (std::size_t i = 0; i < outL.size(); ++i)
            if (std::fabs(outL[i]) > limit) last = i;
        EXPECT_LT(last, outL.size() - 1000) << "tail not finished for room " << room;
        return last;
    }

    Rig rig;
};

// Unknown parameter indices are refused and change nothing.
TEST_F(ReverbTest, HostKnobsGiveTheWorkingValues) {
    rig.setKnob(tag::reverb_room, 0.5f);
    rig.setKnob(tag::reverb_damp, 0.5f);
    EXPECT_FLOAT_EQ(reverb().roomSize(), 0.84f);
    EXPECT_FLOAT_EQ(reverb().strength(), 1.5f);
    EXPECT_FLOAT_EQ(reverb().damp(), 0.2f);
    EXPECT_FLOAT_EQ(reverb().wetSame(), 1.125f);  // width 0.5
    EXPECT_FLOAT_EQ(reverb().wetCross(), 0.375f);
    rig.setKnob(tag::reverb_drywet, 0.5f);  // a wet gain of 0.125 and a linear, not equal-power, dry
    EXPECT_FLOAT_EQ(reverb().dryGain(), 0.875f);
    EXPECT_FALSE(reverb().setParameter(5, 0.9f));
    EXPECT_FALSE(reverb().setParameter(-1, 0.9f));
    EXPECT_FLOAT_EQ(reverb().roomSize(), 0.84f);
    EXPECT_FLOAT_EQ(reverb().parameterValue(0), 0.5f);
}

TEST_F(ReverbTest, ImpulseTailDecaysAndGrowsWithRoom) {
    const std::size_t small = decayLength(0.1f), medium = decayLength(0.5f), large = decayLength(0.9f);
    EXPECT_GT(small, 1116u);  // at least one pass through the shortest comb
    EXPECT_GT(medium, small * 3 / 2);
    EXPECT_GT(large, medium * 3 / 2);
}

TEST_F(ReverbTest, ZeroMixPassesInputThenClearsAndIdles) {
    rig.setKnob(tag::reverb_room, 0.8f);
    rig.setKnob(tag::reverb_drywet, 0.8f);
    Driver driver(&reverb());
    std::vector<float> in = noise(4096, 0.5f, 5), outL, outR;
    driver.run(in, in, outL, outR);  // fill the lines

    rig.setKnob(tag::reverb_drywet, 0.0f);
    std::vector<float> in2 = noise(TMReverb::kClearLength - 32, 0.5f, 6);
    driver.run(in2, in2, outL, outR, 13);
    EXPECT_TRUE(outL == in2 && outR == in2);
    EXPECT_FALSE(reverb().idle());
    std::vector<float> in3 = noise(64, 0.5f, 7);
    driver.run(in3, in3, outL, outR, 13);
    EXPECT_EQ(outL, in3);
    EXPECT_TRUE(reverb().idle());

    // Fading back in starts from silence: exactly like a reverb that never ran.
    rig.setKnob(tag::reverb_drywet, 1.0f);
    Rig fresh;
    fresh.setKnob(tag::reverb_room, 0.8f);
    fresh.setKnob(tag::reverb_drywet, 1.0f);
    std::vector<float> probe = noise(8192, 0.5f, 8), freshL, freshR;
    driver.run(probe, probe, outL, outR);
    Driver(&fresh.effects->reverb).run(probe, probe, freshL, freshR);
    EXPECT_TRUE(outL == freshL && outR == freshR);
}

}  // namespace
}  // namespace kf::test
