// The instance as a host sees it: identity, capabilities, host quirks, sample rate,
// programs and the host-facing parameter strings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "fake_host.h"

namespace kf::test {
namespace {

intptr_t dispatch(TMUniClient& c, int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                  float opt = 0.0f) {
    vst::AEffect* e = c.getAeffect();
    return e->dispatcher(e, op, index, value, ptr, opt);
}

TEST(Instance, HostIdentificationQuirks) {
    FakeHost acid;
    acid.product = "Sony ACID Pro";
    auto a = makeInstance(acid);
    vst::VstPinProperties pin{};
    EXPECT_EQ(dispatch(*a, vst::effGetOutputProperties, 0, 0, &pin), 1);
    EXPECT_EQ(pin.flags, vst::kVstPinIsActive | vst::kVstPinIsStereo);
    EXPECT_TRUE(a->hostIsAcid());
    EXPECT_FALSE(a->hostIsMaker());

    FakeHost maker;
    maker.vendor = "Tallow Mill";
    maker.product = "Sony ACID Pro 7";  // not the exact product
    auto m = makeInstance(maker);
    pin = {};
    EXPECT_EQ(dispatch(*m, vst::effGetOutputProperties, 0, 0, &pin), 0);
    EXPECT_EQ(pin.flags, vst::kVstPinIsActive | vst::kVstPinIsStereo);
    EXPECT_TRUE(m->hostIsMaker());
    EXPECT_FALSE(m->hostIsAcid());

    FakeHost silent;
    silent.answersStrings = false;
    auto s = makeInstance(silent);
    EXPECT_FALSE(s->hostIsMaker());
    EXPECT_FALSE(s->hostIsAcid());
}

TEST(Instance, SampleRateOutsideTheRangeIsNotTakenOver) {
    FakeHost host;
    auto c = makeInstance(host);
    const TMSystemInfo& info = c->engine().systemInfo();
    dispatch(*c, vst::effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(info.sampleRate, 48000.0f);
    dispatch(*c, vst::effSetSampleRate, 0, 0, nullptr, 8000.0f);
    EXPECT_EQ(info.sampleRate, 48000.0f);
    EXPECT_FLOAT_EQ(info.samplesPerMillisecond, 48.0f);
    dispatch(*c, vst::effSetSampleRate, 0, 0, nullptr, 196000.0f);
    EXPECT_EQ(info.sampleRate, 196000.0f);
    EXPECT_FLOAT_EQ(info.inverseRate, 1.0f / 196000.0f);
    EXPECT_FLOAT_EQ(info.samplesPerBeat, 98000.0f);  // 120 bpm
    dispatch(*c, vst::effSetSampleRate, 0, 0, nullptr, 196001.0f);
    EXPECT_EQ(info.sampleRate, 196000.0f);
    dispatch(*c, vst::effSetSampleRate, 0, 0, nullptr, 11050.0f);
    EXPECT_EQ(info.sampleRate, 11050.0f);
    // The band tables follow the rate through the set-up's parameter re-send.
    EXPECT_FLOAT_EQ(c->engine().vocoder().fa(0), c->engine().vocoder().u(0) * (44100.0f / 11050.0f));
}

TEST(Instance, ResumeAsksForMidiAndSuspendIsSilentToTheHost) {
    FakeHost host;
    auto c = makeInstance(host);
    dispatch(*c, vst::effMainsChanged, 0, 1);
    EXPECT_EQ(host.wantMidiCalls, 1);
    dispatch(*c, vst::effMainsChanged, 0, 0);
    EXPECT_EQ(host.wantMidiCalls, 1);
}

TEST(HostStrings, NamesLabelsAndDisplays) {
    FakeHost host;
    auto c = makeInstance(host);
    char text[256];
    dispatch(*c, vst::effGetParamName, 9, 0, text);
    EXPECT_STREQ(text, "focus");
    dispatch(*c, vst::effGetParamLabel, 9, 0, text);
    EXPECT_STREQ(text, "focus");
    dispatch(*c, vst::effGetParamName, 32, 0, text);
    EXPECT_STREQ(text, "DryWet");
    dispatch(*c, vst::effGetParamName, 37, 0, text);
    EXPECT_STREQ(text, "Feedback");
    c->setParameter(9, 0.25f);
    dispatch(*c, vst::effGetParamDisplay, 9, 0, text);
    EXPECT_STREQ(text, "0.250000 ");
    for (int32_t bad : {44, 78, 125, 1000, -1}) {
        dispatch(*c, vst::effGetParamName, bad, 0, text);
        EXPECT_STREQ(text, "empty");
        dispatch(*c, vst::effGetParamDisplay, bad, 0, text);
        EXPECT_STREQ(text, "empty");
    }
}

TEST(HostStrings, CopiesAreBoundedForEveryIndex) {
    FakeHost host;
    auto c = makeInstance(host);
    c->setParameter(27, -123456.0f);  // the longest display a finite value can give
    for (int32_t i = -1; i <= 45; ++i) {
        for (int32_t op : {vst::effGetParamName, vst::effGetParamLabel, vst::effGetParamDisplay}) {
            char text[64];
            std::memset(text, '#', sizeof text);
            dispatch(*c, op, i, 0, text);
            const void* end = std::memchr(text, 0, sizeof text);
            ASSERT_NE(end, nullptr);
            EXPECT_LT(static_cast<const char*>(end) - text, static_cast<long>(vst::kParamStringBound));
            EXPECT_EQ(text[vst::kParamStringBound], '#') << "wrote past the bound for op " << op;
        }
    }
}

TEST(HostStrings, ParameterProperties) {
    FakeHost host;
    auto c = makeInstance(host);
    vst::VstParameterProperties p{};
    EXPECT_EQ(dispatch(*c, vst::effGetParameterProperties, 0, 0, &p), 1);
    EXPECT_STREQ(p.label, "filtertype");
    // Only two-state parameters are switches: a host shows a switch as an on/off toggle, which
    // would hide the band-pass filter type and two of the four trigger sources.
    for (int32_t i = 0; i < kNumHostParameters; ++i) {
        dispatch(*c, vst::effGetParameterProperties, i, 0, &p);
        EXPECT_EQ(p.flags, i == tag::loop ? vst::kVstParameterIsSwitch : 0) << p.label;
    }
    EXPECT_EQ(dispatch(*c, vst::effGetParameterProperties, 23, 0, &p), 1);
    EXPECT_STREQ(p.label, "mix");
    EXPECT_EQ(p.flags, 0);
    p.flags = 77;
    EXPECT_EQ(dispatch(*c, vst::effGetParameterProperties, 44, 0, &p), 0);
    EXPECT_STREQ(p.label, "empty");
    EXPECT_EQ(p.flags, 0);
}

TEST(HostStrings, AutomationAndEditsOnlyForHostParameters) {
    FakeHost host;
    auto c = makeInstance(host);
    vst::AEffect* e = c->getAeffect();
    c->setParameterAutomated(23, 0.75f);
    c->setParameterAutomated(55, 0.75f);
    ASSERT_EQ(host.automated.size(), 1u);
    EXPECT_EQ(host.automated[0].first, 23);
    EXPECT_EQ(host.automated[0].second, 0.75f);
    EXPECT_EQ(e->getParameter(e, 23), 0.75f);
    EXPECT_TRUE(c->beginEdit(3));
    EXPECT_TRUE(c->endEdit(3));
    EXPECT_FALSE(c->beginEdit(44));
    EXPECT_FALSE(c->endEdit(100));
    EXPECT_EQ(host.beginEdits, std::vector<int32_t>{3});
    EXPECT_EQ(host.endEdits, std::vector<int32_t>{3});
}

}  // namespace
}  // namespace kf::test
