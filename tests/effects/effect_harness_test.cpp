// Every effect, driven like the engine drives it, over sample rates, host block sizes,
// tempos and parameter sweeps: finite and bounded output, identical bits whatever the
// block split, no allocation while running, and tails that die away.
#include <gtest/gtest.h>

#include <cfloat>
#include <random>
#include <string>
#include <tuple>

#include "allocation_counter.h"
#include "effect_test_support.h"

namespace kf::test {
namespace {

using HarnessParam =
    std::tuple<int32_t /*choice*/, float /*sample rate*/, int /*host block*/, double /*tempo*/>;

constexpr int64_t kQuietEnd = 8192;
constexpr int64_t kExtremeEnd = kQuietEnd + 640;
constexpr int64_t kStreamLength = kExtremeEnd + 8192;

// Normal audio, then a stretch of extreme but finite values, then normal audio again.
void makeInput(std::vector<float>& l, std::vector<float>& r) {
    l = noise(kStreamLength, 0.8f, 11);
    r = noise(kStreamLength, 0.8f, 12);
    const float extremes[] = {FLT_MAX, -FLT_MAX, 1e30f, -3e38f, 1e-40f, -1e-45f, 0.0f, 2e20f};
    for (int64_t i = kQuietEnd; i < kExtremeEnd; ++i) {
        l[i] = extremes[i % 8];
        r[i] = extremes[(i / 3) % 8];
    }
}

struct SweepResult {
    std::vector<float> l, r;
    long allocations = 0;
};

// Runs the stream with random parameter changes at control blocks and one tempo change.
SweepResult runSweep(int32_t choice, float sr, int hostBlock, double tempo) {
    Rig rig(sr, tempo);
    TMEffect* fx = rig.effects->forChoice(choice);
    TMLofi::seedNoise(645637);  // the generator is process-wide; start both runs alike
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    auto pick = [&] {
        const float u = unit(rng);
        return u < 0.15f ? 0.0f : (u > 0.85f ? 1.0f : unit(rng));
    };

    Driver driver(fx);
    driver.onControlBlock = [&](int64_t frame) {
        if (frame % 1024 != 0) return;
        if (frame == 6144) {
            rig.changeTempo(tempo > 200.0 ? 90.0 : tempo * 2.0);
            return;
        }
        // Half the time a host knob, else any effect parameter or the mix directly.
        if (unit(rng) < 0.5f) {
            const int32_t tag = tag::reverb_room + static_cast<int32_t>(unit(rng) * 11.99f);
            rig.setKnob(tag, pick());
        } else {
            for (int32_t i = 0; i < fx->parameterCount(); ++i) fx->setParameter(i, pick());
            fx->setDryWet(pick());
        }
    };

    std::vector<float> inL, inR;
    makeInput(inL, inR);
    SweepResult res;
    res.l.resize(inL.size());
    res.r.resize(inR.size());
    AllocationCounter allocations;
    driver.run(inL.data(), inR.data(), res.l.data(), res.r.data(), kStreamLength, hostBlock);
    res.allocations = allocations.count();
    return res;
}

class EffectHarness : public ::testing::TestWithParam<HarnessParam> {};

TEST_P(EffectHarness, SweepsStayFiniteBoundedBlockInvariantAndAllocationFree) {
    const auto [choice, sr, block, tempo] = GetParam();
    const SweepResult got = runSweep(choice, sr, block, tempo);
    EXPECT_EQ(got.allocations, 0);
    ASSERT_TRUE(allFinite(got.l) && allFinite(got.r));
    // Unit-level input: even the strongest settings stay within a sane gain.
    EXPECT_LT(std::max(peak(got.l, 0, kQuietEnd), peak(got.r, 0, kQuietEnd)), 20.0f);
    if (block != 32) {
        const SweepResult ref = runSweep(choice, sr, 32, tempo);
        EXPECT_TRUE(got.l == ref.l) << "left differs from the 32-frame run";
        EXPECT_TRUE(got.r == ref.r) << "right differs from the 32-frame run";
    }
}

TEST_P(EffectHarness, TailDiesAwayAfterTheInputStops) {
    const auto [choice, sr, block, tempo] = GetParam();
    Rig rig(sr, tempo);
    // Long-ringing but plausible settings, fully wet.
    const std::pair<int32_t, float> knobs[] = {
        {tag::reverb_room, 0.5f},     {tag::reverb_drywet, 1.0f},  {tag::delaytime, 0.0f},
        {tag::delay_feedback, 0.3f},  {tag::delay_drywet, 1.0f},   {tag::phaser_rate, 0.6f},
        {tag::phaser_feedback, 1.0f}, {tag::phaser_stages, 1.0f},  {tag::lofi_bitrate, 0.3f},
        {tag::lofi_samplerate, 0.5f}, {tag::lofi_distortion, 0.5f}};
    for (auto [knob, v] : knobs) rig.setKnob(knob, v);
    TMEffect* fx = rig.effects->forChoice(choice);

    const std::size_t active = 8192;
    const std::size_t tail = 120000 + 14 * static_cast<std::size_t>(rig.effects->delay.delayLength());
    std::vector<float> inL = noise(active + tail, 0.5f, 3), inR = noise(active + tail, 0.5f, 4);
    for (auto* in : {&inL, &inR}) std::fill(in->begin() + active, in->end(), 0.0f);
    std::vector<float> outL, outR;
    Driver(fx).run(inL, inR, outL, outR, block);

    ASSERT_TRUE(allFinite(outL) && allFinite(outR));
    const float during = std::max(peak(outL, 0, active + tail / 4), peak(outR, 0, active + tail / 4));
    ASSERT_GT(during, 0.01f);
    const std::size_t last = outL.size() - 2048;
    EXPECT_LT(std::max(peak(outL, last), peak(outR, last)), 1e-4f * during);
}

std::string harnessName(const ::testing::TestParamInfo<HarnessParam>& info) {
    const char* names[] = {"", "Reverb", "Delay", "Phaser", "Lofi"};
    return std::string(names[std::get<0>(info.param)]) + "_" +
           std::to_string(static_cast<int>(std::get<1>(info.param))) + "Hz_block" +
           std::to_string(std::get<2>(info.param)) + "_" +
           std::to_string(static_cast<int>(std::get<3>(info.param))) + "bpm";
}

INSTANTIATE_TEST_SUITE_P(
    AllEffects, EffectHarness,
    ::testing::Combine(::testing::Values(kReverbChoice, kDelayChoice, kPhaserChoice, kLofiChoice),
                       ::testing::Values(11050.0f, 44100.0f, 196000.0f), ::testing::Values(1, 7, 32),
                       ::testing::Values(45.0, 120.0, 499.0)),
    harnessName);

}  // namespace
}  // namespace kf::test
