// The instance as a host sees it: host quirks, sample rate, and the host-facing parameter
// strings, properties and automation.
#include <gtest/gtest.h>

#include <cstring>

#include "allocation_counter.h"
#include "fake_host.h"

namespace kf::test {
namespace {

intptr_t dispatch(TMUniClient& c, int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                  float opt = 0.0f) {
    vst::AEffect* e = c.getAeffect();
    return e->dispatcher(e, op, index, value, ptr, opt);
}

TEST(Instance, HostIdentificationQuirks) {
    const struct {
        const char *vendor, *product;
        bool answers, acid, maker;
    } cases[] = {
        {"x", "Sony ACID Pro", true, true, false},
        {"Tallow Mill", "Sony ACID Pro 7", true, false, true},  // not the exact product
        {"Tallow Mill", "Sony ACID Pro", false, false, false},
    };
    for (const auto& k : cases) {
        FakeHost host;
        host.vendor = k.vendor, host.product = k.product, host.answersStrings = k.answers;
        auto c = makeInstance(host);
        vst::VstPinProperties pin{};
        EXPECT_EQ(dispatch(*c, vst::effGetOutputProperties, 0, 0, &pin), k.acid) << k.product;
        EXPECT_EQ(pin.flags, vst::kVstPinIsActive | vst::kVstPinIsStereo);
        EXPECT_EQ(c->hostIsAcid(), k.acid);
        EXPECT_EQ(c->hostIsMaker(), k.maker);
    }
}

TEST(Instance, SampleRatesOutsideTheRangeAreNotTakenOver) {
    FakeHost host;
    auto c = makeInstance(host);
    const TMSystemInfo& info = c->engine().systemInfo();
    for (auto [offered, taken] : {std::pair{48000.0f, 48000.0f},
                                  {8000.0f, 48000.0f},
                                  {196000.0f, 196000.0f},
                                  {196001.0f, 196000.0f},
                                  {11050.0f, 11050.0f}}) {
        dispatch(*c, vst::effSetSampleRate, 0, 0, nullptr, offered);
        EXPECT_EQ(info.sampleRate, taken) << offered;
        EXPECT_FLOAT_EQ(info.inverseRate * taken, 1.0f);
        EXPECT_FLOAT_EQ(info.samplesPerMillisecond, taken / 1000.0f);
        EXPECT_FLOAT_EQ(info.samplesPerBeat, taken / 2.0f);  // 120 bpm
    }
    // The band tables follow the rate through the set-up's parameter re-send.
    EXPECT_FLOAT_EQ(c->engine().vocoder().fa(0), c->engine().vocoder().u(0) * (44100.0f / 11050.0f));
}

// A host's rate change whose memory runs out at any allocation is refused as a whole: the
// instance plays on at the old rate exactly as one never asked, the delay included, and the
// next change succeeds.
TEST(Instance, RateChangeThatRunsOutOfMemoryKeepsTheOldRate) {
    FakeHost host;
    const auto rateChange = [](TMUniClient& c) {
        dispatch(c, vst::effSetSampleRate, 0, 0, nullptr, 96000.0f);
    };
    long allocations = 0;
    {
        auto c = makeNeutralInstance(host);
        AllocationCounter counter;
        rateChange(*c);
        allocations = counter.count();
    }
    ASSERT_GT(allocations, 0);
    std::vector<float> input(6000, 0.0f);
    input[200] = 0.5f;
    const auto chooseDelayAndPlay = [&](TMUniClient& c) {
        // Input A through the dry path into the delay.
        setAll(c, {Value(tag::modulator_mode, 0.0f), Value(tag::carrier_mode, 0.0f), Value(tag::mix, 0.0f),
                   Value(tag::effects_choice, 0.4f), Value(tag::delaytime, 0.01f),
                   Value(tag::delay_feedback, 0.5f), Value(tag::delay_drywet, 1.0f)});
        return render(c, input, input, 256);
    };
    for (long n = 1; n <= allocations; ++n) {
        SCOPED_TRACE(n);
        auto asked = makeNeutralInstance(host), never = makeNeutralInstance(host);
        testing::internal::CaptureStderr();
        failNthAllocation(n);
        rateChange(*asked);
        failNthAllocation(0);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("going on at 44100 Hz"), std::string::npos);
        EXPECT_EQ(asked->engine().systemInfo().sampleRate, 44100.0f);
        EXPECT_EQ(asked->getSampleRate(), 44100.0f);
        const std::vector<float> played = chooseDelayAndPlay(*asked);
        EXPECT_EQ(played, chooseDelayAndPlay(*never));
        EXPECT_GT(energy(played, 300), 0.01);  // the echoes

        rateChange(*asked);
        EXPECT_EQ(asked->engine().systemInfo().sampleRate, 96000.0f);
        EXPECT_EQ(asked->effects().delay.capacity(), 512000u);  // a bar at 45 beats per minute
        EXPECT_GT(energy(chooseDelayAndPlay(*asked), 300), 0.01);
    }
}

// Every string answer stays within the host's bound, and indices without a parameter read
// "empty", whatever the value.
TEST(HostStrings, BoundedForEveryIndexAndEmptyWithoutAParameter) {
    FakeHost host;
    auto c = makeInstance(host);
    char text[64];
    c->setParameter(tag::focus, 0.25f);
    dispatch(*c, vst::effGetParamDisplay, tag::focus, 0, text);
    EXPECT_STREQ(text, "0.250000 ");
    c->setParameter(27, -123456.0f);  // the longest display a finite value can give
    for (int32_t i = -1; i <= 45; ++i) {
        for (int32_t op : {vst::effGetParamName, vst::effGetParamLabel, vst::effGetParamDisplay}) {
            std::memset(text, '#', sizeof text);
            dispatch(*c, op, i, 0, text);
            const void* end = std::memchr(text, 0, sizeof text);
            ASSERT_NE(end, nullptr);
            EXPECT_LT(static_cast<const char*>(end) - text, static_cast<long>(vst::kParamStringBound));
            EXPECT_EQ(text[vst::kParamStringBound], '#') << "wrote past the bound for op " << op;
            if (i < 0 || i >= kNumHostParameters) {
                EXPECT_STREQ(text, "empty") << i;
            }
        }
    }
}

// Only two-state parameters are switches: a host shows a switch as an on/off toggle, which
// would hide the band-pass filter type and two of the four trigger sources.
TEST(HostStrings, ParameterProperties) {
    FakeHost host;
    auto c = makeInstance(host);
    vst::VstParameterProperties p{};
    for (int32_t i = 0; i < kNumHostParameters; ++i) {
        EXPECT_EQ(dispatch(*c, vst::effGetParameterProperties, i, 0, &p), 1);
        const bool isSwitch = i == tag::loop || tagOfHostIndex(i) == tag::articulate;
        EXPECT_EQ(p.flags, isSwitch ? vst::kVstParameterIsSwitch : 0) << p.label;
    }
    p.flags = 77;
    EXPECT_EQ(dispatch(*c, vst::effGetParameterProperties, kNumHostParameters, 0, &p), 0);
    EXPECT_STREQ(p.label, "empty");
    EXPECT_EQ(p.flags, 0);
}

// Automation and edits reach the host for host parameters only; resume asks for MIDI, suspend
// is silent to the host.
TEST(HostStrings, AutomationEditsAndResume) {
    FakeHost host;
    auto c = makeInstance(host);
    dispatch(*c, vst::effMainsChanged, 0, 1);
    dispatch(*c, vst::effMainsChanged, 0, 0);
    EXPECT_EQ(host.wantMidiCalls, 1);
    vst::AEffect* e = c->getAeffect();
    c->setParameterAutomated(23, 0.75f);
    c->setParameterAutomated(55, 0.75f);
    // Host index 45 is the parameter added with tag 127; tag 55 stays an internal tag.
    c->setParameterAutomated(45, 0.5f);
    EXPECT_EQ(host.automated, (std::vector<std::pair<int32_t, float>>{{23, 0.75f}, {45, 0.5f}}));
    EXPECT_EQ(e->getParameter(e, 23), 0.75f);
    EXPECT_EQ(e->getParameter(e, 45), 0.5f);
    EXPECT_EQ(c->parameters().value(tag::consonants), 0.5f);
    char name[64];
    dispatch(*c, vst::effGetParamName, 44, 0, name);
    EXPECT_STREQ(name, "articulate");
    e->setParameter(e, 55, 0.41f);
    EXPECT_EQ(c->parameters().value(tag::effects_choice), 0.41f);
    EXPECT_TRUE(c->beginEdit(3));
    EXPECT_TRUE(c->endEdit(3));
    EXPECT_FALSE(c->beginEdit(kNumHostParameters));
    EXPECT_FALSE(c->endEdit(100));
    EXPECT_EQ(host.beginEdits, std::vector<int32_t>{3});
    EXPECT_EQ(host.endEdits, std::vector<int32_t>{3});
}

}  // namespace
}  // namespace kf::test
