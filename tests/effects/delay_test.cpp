#include <gtest/gtest.h>

#include <cmath>

#include "allocation_counter.h"
#include "effect_test_support.h"

namespace kf::test {
namespace {

// Index of the largest magnitude at or after from.
std::size_t loudestAt(const std::vector<float>& v, std::size_t from = 0) {
    std::size_t best = from;
    for (std::size_t i = from; i < v.size(); ++i)
        if (std::fabs(v[i]) > std::fabs(v[best])) best = i;
    return best;
}

class DelayTest : public ::testing::Test {
  protected:
    DelayTest() {
        rig.setKnob(tag::delay_drywet, 1.0f);  // echo only
        rig.setKnob(tag::delay_feedback, 0.0f);
    }
    TMDelay& delay() { return rig.effects->delay; }

    Rig rig{44100.0f, 120.0};
};

TEST_F(DelayTest, BarAndDelayLengthAt120BpmMatchTheImpulseResponseAndHaveAFloor) {
    EXPECT_EQ(delay().barLength(), 88200u);
    rig.setKnob(tag::delaytime, 0.5f);
    EXPECT_EQ(delay().delayLength(), 44099);

    // Heads placed exactly (start after the length is known): the impulse comes back
    // after exactly the delay length.
    delay().start();
    std::vector<float> in(50000, 0.0f), out, outR;
    in[0] = 1.0f;
    Driver(&delay()).run(in, in, out, outR);
    EXPECT_EQ(loudestAt(out), 44099u);
    EXPECT_FLOAT_EQ(out[44099], 1.0f);

    // The shortest delay is 128 samples.
    delay().setParameter(0, 0.0f);
    delay().takeParameters();
    EXPECT_EQ(delay().delayLength(), TMDelay::kMinDelay);
    delay().setParameter(0, 0.001f);
    delay().takeParameters();
    EXPECT_EQ(delay().delayLength(), TMDelay::kMinDelay);
    rig.setKnob(tag::delaytime, 0.0f);  // 0.025 of the bar
    EXPECT_EQ(delay().delayLength(), static_cast<int32_t>(0.025f * 88199.0f));
}

TEST_F(DelayTest, HeadsSettleOnTheDelayLengthAfterTheSetUpSequence) {
    // The engine's order: set-up (length 0), then the host values; the read head glides
    // out, within 32 samples in about 3 s and onto the length a few seconds later.
    rig.setKnob(tag::delaytime, 0.5f);
    rig.setUp();
    Driver driver(&delay());
    std::vector<float> silence(12 * 44100, 0.0f), out, outR;
    driver.run(silence, silence, out, outR);
    std::vector<float> in(50000, 0.0f);
    in[0] = 1.0f;
    driver.run(in, in, out, outR);
    const std::size_t arrival = loudestAt(out);
    EXPECT_NEAR(static_cast<double>(arrival), 44099.0, 1.0);
    EXPECT_GT(std::fabs(out[arrival]), 0.4f);  // a sub-sample offset may split it over two samples
}

// A delay-time change while a sine runs: with glide the echo bends in pitch but never
// jumps; without glide the read head jumps and the echo clicks.
float largestStepAfterTimeChange(Rig& rig, bool glide, float from, float to, float& ownStep) {
    TMDelay& d = rig.effects->delay;
    d.setParameterMode(-1, glide ? 1 : 0);
    rig.setKnob(tag::delaytime, from);
    d.start();
    const float w = 2.0f * 3.14159265f * 233.3f / 44100.0f;  // no whole cycles in the time step
    std::vector<float> in(6 * 44100), out, outR;
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = 0.5f * std::sin(w * static_cast<float>(i));
    ownStep = 0.0f;
    for (std::size_t i = 1; i < in.size(); ++i) ownStep = std::max(ownStep, std::fabs(in[i] - in[i - 1]));

    Driver driver(&d);
    driver.onControlBlock = [&](int64_t frame) {
        if (frame == 3 * 44096) rig.setKnob(tag::delaytime, to);
    };
    driver.run(in, in, out, outR);
    float largest = 0.0f;
    for (std::size_t i = 3 * 44096; i < out.size(); ++i)
        largest = std::max(largest, std::fabs(out[i] - out[i - 1]));
    return largest;
}

TEST_F(DelayTest, DelayTimeChangesGlideWithoutJumps) {
    float own = 0.0f;
    // Longer: the head slows down, so the echo only ever moves slower than the signal.
    const float longer = largestStepAfterTimeChange(rig, true, 0.5f, 0.75f, own);
    EXPECT_LE(longer, own * 1.01f);
    // Shorter by a fifth: the head speeds up to at most (d + 32) / (len + 32), about 1.25.
    const float shorter = largestStepAfterTimeChange(rig, true, 0.5f, 0.4f, own);
    EXPECT_LE(shorter, own * 1.26f);
    // Without glide the same change is a discontinuity far beyond the signal's own steps.
    const float jump = largestStepAfterTimeChange(rig, false, 0.5f, 0.4f, own);
    EXPECT_GT(jump, own * 3.0f);
}

TEST_F(DelayTest, TempoChangeResizesTheBarWithoutAllocating) {
    rig.setKnob(tag::delaytime, 0.5f);
    const float* lineBefore = delay().lineData(0);
    const uint32_t capacity = delay().capacity();
    EXPECT_EQ(capacity, 235200u);  // one bar at 45 beats per minute

    AllocationCounter allocations;
    rig.changeTempo(240.0);
    EXPECT_EQ(delay().barLength(), 44100u);
    EXPECT_EQ(delay().delayLength(), static_cast<int32_t>(0.5f * 44099.0f));
    rig.changeTempo(45.0);
    EXPECT_EQ(delay().barLength(), 235200u);
    rig.changeTempo(499.0);
    EXPECT_EQ(allocations.count(), 0);
    EXPECT_EQ(delay().lineData(0), lineBefore);
    EXPECT_EQ(delay().capacity(), capacity);

    // The listener path alone keeps the content and glides to the new bar's fraction.
    rig.info.tempo = 60.0;
    rig.info.updateTempoDerived();
    AllocationCounter listenerAllocations;
    rig.listeners.notifyAll();
    EXPECT_EQ(listenerAllocations.count(), 0);
    EXPECT_EQ(delay().barLength(), 176400u);
    EXPECT_EQ(delay().delayLength(), static_cast<int32_t>(0.5f * 176399.0f));
}

TEST_F(DelayTest, NewSampleRateReallocatesAndMovesTheRegistration) {
    const void* oldLine = delay().lineData(0);
    AllocationCounter rateAllocations;
    rig.changeSampleRate(96000.0f);
    EXPECT_GT(rateAllocations.count(), 0);  // also shows the counter is live
    ASSERT_NE(delay().lineData(0), oldLine);
    EXPECT_EQ(delay().capacity(), static_cast<uint32_t>(4.0f * static_cast<float>(96000.0 / 0.75)));
    EXPECT_EQ(delay().barLength(), 192000u);
    bool newFound = false;
    for (const auto& r : rig.registry.regions()) {
        if (r.start == delay().lineData(0)) newFound = r.bytes == delay().capacity() * sizeof(float);
        EXPECT_NE(r.start, oldLine);
    }
    EXPECT_TRUE(newFound);
    // Same rate again: nothing is reallocated.
    const float* line = delay().lineData(0);
    AllocationCounter allocations;
    delay().updateTiming(false);
    EXPECT_EQ(allocations.count(), 0);
    EXPECT_EQ(delay().lineData(0), line);
}

TEST_F(DelayTest, WidthBlendsTheEchoesAcrossChannels) {
    rig.setKnob(tag::delaytime, 0.0f);
    delay().start();
    std::vector<float> inL(8000, 0.0f), inR(8000, 0.0f), outL, outR;
    inL[0] = 1.0f;
    const std::size_t echo = static_cast<std::size_t>(delay().delayLength());

    Driver(&delay()).run(inL, inR, outL, outR);  // feedback 0 couples width 0
    EXPECT_FLOAT_EQ(outL[echo], 1.0f);
    EXPECT_NEAR(outR[echo], 0.0f, 1e-9f);

    delay().setParameter(2, 0.5f);
    delay().start();
    Driver(&delay()).run(inL, inR, outL, outR);
    EXPECT_FLOAT_EQ(outL[echo], 0.5f);
    EXPECT_FLOAT_EQ(outR[echo], 0.5f);
}

}  // namespace
}  // namespace kf::test
