#include <gtest/gtest.h>

#include "effect_test_support.h"

namespace kf::test {
namespace {

class LofiTest : public ::testing::Test {
  protected:
    LofiTest() {
        rig.setKnob(tag::lofi_bitrate, 0.0f);
        rig.setKnob(tag::lofi_samplerate, 0.0f);
        rig.setKnob(tag::lofi_distortion, 0.0f);
    }
    TMLofi& lofi() { return rig.effects->lofi; }
    Rig rig;
};

TEST_F(LofiTest, AllKnobsAtZeroPassTheInputPlusTheOffset) {
    std::vector<float> in = noise(1000, 0.7f, 31), outL, outR;
    Driver(&lofi()).run(in, in, outL, outR, 7);
    for (std::size_t i = 0; i < in.size(); ++i) ASSERT_EQ(outL[i], in[i] + 1e-10f) << i;
    EXPECT_EQ(outL, outR);
}

TEST_F(LofiTest, BitrateQuantisesTowardZero) {
    rig.setKnob(tag::lofi_bitrate, 1.0f);
    EXPECT_FLOAT_EQ(lofi().quantisationStep(), 0.175f);
    float l[4] = {0.3f, -0.1f, 0.36f, -0.4f}, r[4] = {-0.3f, 0.1f, 0.0f, 0.2f};
    const float wantL[4] = {0.175f, 0.0f, 0.35f, -0.35f}, wantR[4] = {-0.175f, 0.0f, 0.0f, 0.175f};
    lofi().process(l, r, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(l[i], wantL[i]) << i;
        EXPECT_FLOAT_EQ(r[i], wantR[i]) << i;
    }
}

TEST_F(LofiTest, SamplerateHoldsEachTakenSampleTwentyTimesInStep) {
    rig.setKnob(tag::lofi_samplerate, 1.0f);
    EXPECT_EQ(lofi().holdLength(), 20);
    std::vector<float> inL = noise(400, 0.5f, 32), inR = noise(400, 0.5f, 33), outL, outR;
    Driver(&lofi()).run(inL, inR, outL, outR, 7);  // the pattern runs on across blocks
    for (std::size_t i = 0; i < inL.size(); ++i) {
        const std::size_t taken = i - i % 20;
        ASSERT_EQ(outL[i], inL[taken] + 1e-10f) << i;
        ASSERT_EQ(outR[i], inR[taken] + 1e-10f) << i;
    }
}

TEST_F(LofiTest, FullDistortionIsTheFilteredClipperOnly) {
    rig.setKnob(tag::lofi_distortion, 1.0f);
    // A loud low tone: the clipper saturates, the output is a tenth of the clipped and
    // band-limited signal, so it stays small whatever the input level.
    std::vector<float> in(4000), outL, outR;
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = 50.0f * std::sin(0.02f * static_cast<float>(i));
    Driver(&lofi()).run(in, in, outL, outR);
    EXPECT_LT(peak(outL), 0.6f);
    EXPECT_GT(peak(outL), 0.05f);
}

}  // namespace
}  // namespace kf::test
