#include "engine/dynamics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "synth_figures.h"
#include "test_util.h"

namespace kf {
namespace {

// Runs a stage over a signal in control blocks of 32 and returns the gained A channel.
std::vector<float> runStage(InputStage& st, const std::vector<float>& a, const std::vector<float>& b) {
    std::vector<float> outA(a.size()), outB(a.size());
    for (size_t i = 0; i < a.size(); i += 32) {
        st.applyPending();
        st.controlBlock();
        const int n = static_cast<int>(std::min<size_t>(32, a.size() - i));
        st.process(&a[i], &b[i], &outA[i], &outB[i], n);
    }
    return outA;
}

// The same over n frames of constant inputs.
std::vector<float> runStage(InputStage& st, size_t n, float a, float b) {
    return runStage(st, std::vector<float>(n, a), std::vector<float>(n, b));
}

TEST(Smoothing, UnityDcGainAndCornerLimits) {
    // a + 2b = 1: a held peak drives the envelope to exactly that level.
    for (float s : {20.0f, 100.0f, 200.0f}) {
        const SmoothingCoefficients c = smoothingFor(s, 44100.0f);
        EXPECT_NEAR(c.a + 2.0f * c.b, 1.0f, 1e-6f);
        EXPECT_FLOAT_EQ(c.corner, 202.0f - s);
        EXPECT_GT(c.a, 0.0f);
        EXPECT_LT(c.a, 1.0f);
    }
    // At high rates the slowest master corner (2 Hz) is raised to the lower limit.
    EXPECT_FLOAT_EQ(smoothingFor(200.0f, 196000.0f).corner, 196000.0f * 4.0690105e-05f);
    PeakEnvelope env;
    const SmoothingCoefficients c = smoothingFor(100.0f, 44100.0f);
    for (int i = 0; i < 20000; ++i) env.feed(0.5f, 1.0f / (100.0f * 44.1f), c.a, c.b);
    EXPECT_NEAR(env.env, 0.5f, 1e-3f);
}

TEST(InputStage, StageTwoCompressesAndGates) {
    TMSystemInfo info;
    InputStage st(info, InputStage::Kind::Two);
    // Speeds out of the host range take the nearest end, never a negative time or NaN.
    for (auto [v, ms] : {std::pair{5.0f, 20.0f}, {0.0f, 180.0f}, {std::nanf(""), 180.0f}, {1.0f, 20.0f}}) {
        st.setSpeed(v);
        EXPECT_FLOAT_EQ(st.speedMs(), ms) << v;
    }
    st.setRatio(0.25f);
    EXPECT_FLOAT_EQ(st.ratioDisplay(), 3.0f);
    st.setGain(0.25f);  // G = 2
    st.setGate(0.0f);   // opens on any positive peak
    st.setRatio(0.0f);
    runStage(st, 4096, 0.5f, 0.5f);
    EXPECT_NEAR(st.currentGain(), 2.0f, 1e-3f);  // gate open, no compression: G·Gt

    st.setRatio(1.0f);  // envelope of A + B = 1 >= 0.8: full reduction to 0.2·G
    runStage(st, 4096, 0.5f, 0.5f);
    EXPECT_NEAR(st.currentGain(), 0.4f, 1e-3f);

    // Silence: the peak decays to 0 within the speed time (20 ms: 882 frames), the gate closes,
    // gain falls to 0.
    runStage(st, 896, 0.0f, 0.0f);
    EXPECT_EQ(st.detector().peak, 0.0f);
    runStage(st, 8192, 0.0f, 0.0f);
    EXPECT_NEAR(st.currentGain(), 0.0f, 1e-4f);
}

TEST(InputStage, StageOnePassesWhenItsGateIsClosedAndIsSilentWhenOpen) {
    TMSystemInfo info;
    InputStage st(info, InputStage::Kind::One);
    st.setGain(0.125f);  // G = 1
    st.setRatio(0.0f);
    st.setGate(1.0f);  // threshold 1: a signal below it keeps the gate closed
    const std::vector<float> out = runStage(st, 4096, 0.2f, 0.1f);
    EXPECT_FLOAT_EQ(out.back(), 0.2f);
    st.setGate(0.0f);  // open: gain c·G with c = 0
    runStage(st, 8192, 0.2f, 0.1f);
    EXPECT_NEAR(st.currentGain(), 0.0f, 1e-4f);
    // The threshold is the gate level to the fourth power: 0.0625 for 0.5.
    st.setGate(0.5f);
    EXPECT_FLOAT_EQ(runStage(st, 8192, 0.06f, 0.0f).back(), 0.06f);
    runStage(st, 8192, 0.07f, 0.0f);
    EXPECT_NEAR(st.currentGain(), 0.0f, 1e-4f);
}

// Negative signals never raise the detector; a frozen stage holds its gain and detector.
TEST(InputStage, NegativeSignalsNeverRaiseTheDetectorAndFreezeHoldsIt) {
    TMSystemInfo info;
    InputStage st(info, InputStage::Kind::Two);
    st.setGate(0.0f);
    std::vector<float> a = test::noise(4096, 1.0f, 7);
    for (float& x : a) x = -std::fabs(x);
    runStage(st, a, std::vector<float>(4096, -0.5f));
    EXPECT_EQ(st.detector().peak, 0.0f);
    EXPECT_EQ(st.detector().env, 0.0f);
    EXPECT_EQ(st.gateEnvelope(), 0.0f);
    EXPECT_EQ(st.currentGain(), 0.0f);  // stage two with a closed gate is silent
    st.setRatio(1.0f);
    runStage(st, test::noise(2048, 1.0f, 7), test::noise(2048, 1.0f, 8));
    const float gain = st.currentGain();
    const PeakEnvelope det = st.detector();
    st.setFrozen(true);
    runStage(st, 4096, 0.0f, 0.0f);
    EXPECT_EQ(st.currentGain(), gain);
    EXPECT_EQ(st.detector().peak, det.peak);
    EXPECT_EQ(st.detector().env, det.env);
    st.setFrozen(false);  // resumes from the held detector state: silence closes the gate
    runStage(st, 8192, 0.0f, 0.0f);
    EXPECT_NEAR(st.currentGain(), 0.0f, 1e-4f);
}

void runMaster(MasterSection& m, std::vector<float>& l, std::vector<float>& r) {
    for (size_t i = 0; i < l.size(); i += 32) {
        m.applyPending();
        m.controlBlock();
        m.process(&l[i], &r[i], 1e-8f, static_cast<int32_t>(std::min<size_t>(32, l.size() - i)));
    }
}

// Gain in dB of the master section over one second of a sine (at the default amplitude the soft
// clip stays out of the way), from the RMS of the last half second against the input's.
double masterGainDb(MasterSection& m, const TMSystemInfo& info, double hz, float amp = 0.01f) {
    const auto frames = static_cast<size_t>(info.sampleRate);
    std::vector<float> in(frames), l(frames), r(frames);
    for (size_t i = 0; i < frames; ++i)
        in[i] = l[i] = r[i] =
            amp * static_cast<float>(std::sin(2.0 * M_PI * hz * double(i) / info.sampleRate));
    runMaster(m, l, r);
    double out = 0.0, ref = 0.0;
    for (size_t i = frames / 2; i < frames; ++i) out += double(l[i]) * l[i], ref += double(in[i]) * in[i];
    return 10.0 * std::log10(out / ref);
}

TEST(MasterSection, EqIsFlatAtZeroDbAndEachBandBoostsItsRegion) {
    for (float rate : {44100.0f, 48000.0f}) {
        TMSystemInfo info;
        info.setSampleRate(rate);
        for (double hz : {20.0, 40.0, 80.0, 125.0, 250.0, 500.0, 1000.0, 2000.0, 4000.0, 6000.0, 8000.0,
                          12000.0, 16000.0, 20000.0}) {
            MasterSection flat(info);
            EXPECT_NEAR(masterGainDb(flat, info, hz), 0.0, 0.25) << rate << " Hz rate, " << hz << " Hz";
        }
    }
    TMSystemInfo info;
    auto boostDb = [&](void (MasterSection::*set)(float), double hz) {
        MasterSection boosted(info);
        (boosted.*set)(1.0f);  // +12 dB
        return masterGainDb(boosted, info, hz);
    };
    // The split's tuning: 2·sin(pi·fc / 44100) is the coefficient.
    const double split = 44100.0 / M_PI * std::asin(MasterSection::eqCoefficient() / 2.0);
    EXPECT_NEAR(boostDb(&MasterSection::setEqLow, 60.0), 12.0, 0.25);
    EXPECT_NEAR(boostDb(&MasterSection::setEqMid, split), 12.0, 0.5);
    EXPECT_GT(boostDb(&MasterSection::setEqHigh, 12000.0), 6.0);
    EXPECT_LT(boostDb(&MasterSection::setEqLow, 12000.0), 1.0);
    EXPECT_LT(boostDb(&MasterSection::setEqHigh, 60.0), 1.0);
    EXPECT_LT(boostDb(&MasterSection::setEqMid, 60.0), 1.0);
}

// The EQ sounds the same at any rate as at 44.1 kHz, whose split it keeps as made (run unchanged
// at 48 kHz it strayed by 5.6 dB, at 192 kHz by 24 dB). Below 44.1 kHz two poles do what they can.
TEST(MasterSection, EqSoundsAlikeAtEveryRate) {
    for (float rate : {48000.0f, 88200.0f, 96000.0f, 176400.0f, 192000.0f})
        EXPECT_LT(figures::eqRateDeviationDb(rate), 0.5) << rate;
    for (float rate : {11050.0f, 22050.0f, 32000.0f})
        EXPECT_LT(figures::eqRateDeviationDb(rate), 6.0) << rate;
    TMSystemInfo info;
    EXPECT_FALSE(MasterSection(info).eqFitted());
    info.setSampleRate(96000.0f);
    EXPECT_TRUE(MasterSection(info).eqFitted());
}

TEST(MasterSection, ClipBoundsAnyInput) {
    TMSystemInfo info;
    MasterSection m(info);
    m.setLevel(1.0f);  // L = 4
    std::vector<float> l = test::noise(4096, 1e4f, 7), r(4096, -3e4f);
    runMaster(m, l, r);
    EXPECT_TRUE(test::allFinite(l) && test::allFinite(r));
    EXPECT_LE(std::max(test::peak(l), test::peak(r)), 4.0f);
}

TEST(MasterSection, CompressorAndLevel) {
    TMSystemInfo info;
    MasterSection m(info);
    m.setLevel(0.5f);  // L = 2
    m.setCompAmount(0.0f);
    masterGainDb(m, info, 440.0, 0.8f);
    EXPECT_EQ(m.currentGain(), 2.0f);  // no compression: exactly the level once the ramp snaps

    m.setCompAmount(1.0f);  // C = 4: a loud signal reaches the 0.74 reduction limit
    m.setCompSpeed(1.0f);
    masterGainDb(m, info, 440.0, 0.8f);
    EXPECT_NEAR(m.currentGain(), 2.0f * 0.26f, 1e-3f);
}

}  // namespace
}  // namespace kf
