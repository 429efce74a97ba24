#include "engine/vocoder_bank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "common/fp_safety.h"
#include "test_util.h"

namespace kf {
namespace {

using vocoder::Isa;
constexpr int kB = vocoder::kBands;

// Plain scalar model of the bank: one band at a time, the operations in the order the
// vector kernels must follow. The vector paths are checked against it bit for bit.
struct ScalarBank {
    vocoder::State s{};

    static float stage(float x, float f, float q, float& bp, float& lp) {
        const float hp = (x - q * bp) - lp;
        bp = bp + f * hp;
        lp = lp + f * bp;
        return bp;
    }
    static float band(vocoder::FilterState& fs, int k, float f, float q1, float q2, float x, float off) {
        const float y1 = stage(x, f, q1, fs.bp1[k], fs.lp1[k]);
        return stage(y1 + off, f, q2, fs.bp2[k], fs.lp2[k]);
    }
    // Pairwise tree 32 -> 16 -> 8 -> 4, then (0 + 2) + (1 + 3).
    static float sum(const float* p) {
        float s16[16], s8[8], s4[4];
        for (int k = 0; k < 16; ++k) s16[k] = p[k] + p[k + 16];
        for (int k = 0; k < 8; ++k) s8[k] = s16[k] + s16[k + 8];
        for (int k = 0; k < 4; ++k) s4[k] = s8[k] + s8[k + 4];
        return (s4[0] + s4[2]) + (s4[1] + s4[3]);
    }
    float side(vocoder::FilterState& fst, vocoder::FollowerState& fo, float in, float off) {
        float prod[kB];
        for (int k = 0; k < kB; ++k) {
            const float b = band(fst, k, s.coef.fa[k], s.coef.q1[k], s.coef.q2[k], in + off, off);
            float e = fo.env[k] - fo.decay[k];
            if (b > e) {
                fo.decay[k] = b * s.coef.release[k];
                e = b;
            }
            fo.env[k] = e > 0.0f ? e : 0.0f;
            fo.gain[k] = fo.gain[k] + fo.step[k];
            prod[k] = s.synthesis.bp2[k] * fo.gain[k];
        }
        return sum(prod) * 0.0625f;
    }
    void frame(float syn, float anaL, float anaR, float off, float& outL, float& outR) {
        for (int k = 0; k < kB; ++k)
            band(s.synthesis, k, s.coef.fs[k], s.coef.q1[k], s.coef.q2[k], syn + off, off);
        outL = side(s.analysisLeft, s.left, anaL, off);
        outR = side(s.analysisRight, s.right, anaR, off);
    }
    // The articulate bank: shared damping, unnormalised stages, a smoothed rectified band,
    // the pre-emphasised carrier with gated noise, and the voice's high band.
    float articulateSide(vocoder::FilterState& fst, vocoder::FollowerState& fo, float x, const float* synOut,
                         float* h) {
        const vocoder::ArticulateCoefficients& a = s.articulate;
        float prod[kB];
        for (int k = 0; k < kB; ++k) {
            const float y1 = stage(x, a.fa[k], a.q[k], fst.bp1[k], fst.lp1[k]);
            const float b = stage(y1, a.fa[k], a.q[k], fst.bp2[k], fst.lp2[k]);
            fo.env[k] = a.keep[k] * fo.env[k] + a.take[k] * std::fabs(b);
            prod[k] = synOut[k] * fo.env[k];
        }
        float out = sum(prod);
        if (a.highGain != 0.0f) {
            const float hp1 = (x - a.highQ * h[0]) - h[1];
            h[0] = h[0] + a.highF * hp1;
            h[1] = h[1] + a.highF * h[0];
            const float hp2 = (hp1 - a.highQ * h[2]) - h[3];
            h[2] = h[2] + a.highF * hp2;
            h[3] = h[3] + a.highF * h[2];
            out = out + a.highGain * hp2;
        }
        return out;
    }
    void articulateFrame(float syn, float anaL, float anaR, float off, float& outL, float& outR) {
        const vocoder::ArticulateCoefficients& a = s.articulate;
        vocoder::ConsonantState& c = s.consonant;
        const float carrier = syn - a.emphasis * c.carrierPrev;
        c.carrierEnergy = c.carrierEnergy + carrier * carrier;
        float x = carrier + off;
        if (c.gate != 0.0f || c.gateStep != 0.0f) {  // no noise is drawn while the gate is shut
            c.seed = c.seed * 1664525u + 1013904223u;
            c.gate = c.gate + c.gateStep;
            x = (carrier + static_cast<float>(static_cast<int32_t>(c.seed)) * c.gate) + off;
        }
        c.carrierPrev = syn;
        float synOut[kB];
        for (int k = 0; k < kB; ++k) {
            const float y1 = stage(x, a.fs[k], a.q[k], s.synthesis.bp1[k], s.synthesis.lp1[k]);
            synOut[k] = stage(y1, a.fs[k], a.q[k], s.synthesis.bp2[k], s.synthesis.lp2[k]);
        }
        outL = articulateSide(s.analysisLeft, s.left, anaL + off, synOut, c.high[0]);
        outR = articulateSide(s.analysisRight, s.right, anaR + off, synOut, c.high[1]);
    }
    static void steps(vocoder::FollowerState& f) {
        for (int k = 0; k < kB; ++k) {
            float st = (f.env[k] - f.gain[k]) * 0.03125f;
            if (st > -1e-7f && st < 1e-7f) {
                st = 0.0f;
                f.gain[k] = f.env[k];
            }
            f.step[k] = st;
        }
    }
    void controlBlock() {
        steps(s.right);
        steps(s.left);
    }
};

struct Settings {
    float focus, shift, response;
    bool articulate = false;
    float consonants = 0.0f;
};

// A bank at the given rate with the settings applied.
std::unique_ptr<VocoderBank> makeBank(TMSystemInfo& info, Settings p, float rate = 44100.0f) {
    info.setSampleRate(rate);
    auto bank = std::make_unique<VocoderBank>(info);
    bank->setResponse(p.response);
    bank->setFocus(p.focus);
    bank->setShift(p.shift);
    bank->setArticulate(p.articulate);
    bank->setConsonants(p.consonants);
    bank->applyPending();
    return bank;
}

// Drives a bank and the scalar model with the same material over many control blocks,
// including chunks shorter than a control block, and compares every output and all state.
// Some stretches give both analysis banks one buffer, where the bank runs the left bank alone
// while the two agree; the model always runs both.
void expectMatchesScalar(Isa isa, Settings p, bool engineFpMode) {
    TMSystemInfo info;
    auto bank = makeBank(info, p);
    bank->setIsa(isa);
    ASSERT_EQ(bank->isa(), isa);
    auto ref = std::make_unique<ScalarBank>();
    ref->s = bank->state();

    std::unique_ptr<FpModeGuard> mode;
    if (engineFpMode) mode = std::make_unique<FpModeGuard>();
    test::Noise noise(1234);
    float offset = kEngineAntiDenormal, previousNoise = 0.0f, loudestGate = 0.0f;
    const int kChunks[] = {32, 7, 25, 1, 31, 32};
    double phase = 0.0;
    for (int block = 0; block < 160; ++block) {
        bank->controlBlock();
        if (p.articulate) {  // the gate's control block is shared code, not a kernel
            ref->s.consonant.gateStep = bank->state().consonant.gateStep;
            ref->s.consonant.carrierEnergy = bank->state().consonant.carrierEnergy;
        } else {
            ref->controlBlock();
        }
        const bool oneInput = (block / 40) % 2 == 0;
        const int split = kChunks[block % 6];
        for (int start = 0; start < 32;) {
            const int n = start == 0 ? split : 32 - start;
            float syn[32], al[32], ar[32], ol[32], orr[32];
            for (int i = 0; i < n; ++i) {
                phase += 0.031;
                syn[i] = noise.next();
                // Bursts and silences so followers rise, decay and snap; now and then a hiss
                // (differentiated noise) that opens the consonant gate.
                const float env = (block / 20) % 2 ? 0.0f : 1.0f, n1 = noise.next();
                const float hiss = (block / 5) % 2 ? 0.3f * n1 : 3.0f * (n1 - previousNoise);
                previousNoise = n1;
                al[i] = env * (static_cast<float>(std::sin(phase)) + hiss);
                ar[i] = oneInput ? al[i] : env * static_cast<float>(std::sin(phase * 7.3)) * 0.5f;
            }
            bank->process(syn, al, oneInput ? al : ar, offset, ol, orr, n);
            for (int i = 0; i < n; ++i) {
                float rl, rr;
                if (p.articulate)
                    ref->articulateFrame(syn[i], al[i], ar[i], offset, rl, rr);
                else
                    ref->frame(syn[i], al[i], ar[i], offset, rl, rr);
                offset = -offset;
                ASSERT_EQ(std::memcmp(&rl, &ol[i], 4), 0) << "block " << block << " frame " << start + i;
                ASSERT_EQ(std::memcmp(&rr, &orr[i], 4), 0) << "block " << block << " frame " << start + i;
            }
            start += n;
            loudestGate = std::max(loudestGate, bank->state().consonant.gate);
        }
    }
    EXPECT_EQ(std::memcmp(&ref->s, &bank->state(), sizeof(vocoder::State)), 0);
    EXPECT_EQ(loudestGate > 0.0f, p.articulate && p.consonants > 0.0f) << "the noise path ran as expected";
}

class VocoderIsaTest : public ::testing::TestWithParam<Isa> {};

TEST_P(VocoderIsaTest, MatchesScalarReferenceBitForBit) {
    if (!VocoderBank::isaSupported(GetParam())) GTEST_SKIP() << "instruction set not available";
    // Middle settings, resonant bands with a release of 10 ms, packed bands, and a downward
    // shift that parks low synthesis bands at coefficient 0; the articulate bank without and
    // with its consonant path, and shifted down.
    for (Settings p : {Settings{0.5f, 0.5f, 0.5f}, Settings{1.0f, 1.0f, 1.0f}, Settings{0.0f, 0.0f, 0.0f},
                       Settings{0.8f, 0.1f, 0.9f}, Settings{0.5f, 0.5f, 0.5f, true, 0.0f},
                       Settings{0.5f, 0.5f, 0.5f, true, 1.0f}, Settings{0.5f, 0.0f, 0.5f, true, 0.6f}}) {
        SCOPED_TRACE(testing::Message()
                     << "focus " << p.focus << " shift " << p.shift << " response " << p.response
                     << " articulate " << p.articulate << " consonants " << p.consonants);
        expectMatchesScalar(GetParam(), p, false);
        expectMatchesScalar(GetParam(), p, true);
    }
}

std::string isaName(const testing::TestParamInfo<Isa>& info) {
    return std::array{"Sse2", "Avx2", "Avx512"}[static_cast<size_t>(info.param)];
}
INSTANTIATE_TEST_SUITE_P(Widths, VocoderIsaTest, ::testing::Values(Isa::Sse2, Isa::Avx2, Isa::Avx512),
                         isaName);

// Measures where band k of the left analysis bank peaks: the impulse response recorded
// band by band from the bank's state, then the maximum of its spectrum.
std::vector<double> measuredCentres(float focus, const std::vector<int>& bands, float sampleRate) {
    TMSystemInfo info;
    auto bank = makeBank(info, {focus, 0.5f, 0.0f}, sampleRate);  // response 0: one clear peak per band
    const int kN = 8192;
    std::vector<std::vector<float>> ir(bands.size(), std::vector<float>(kN));
    for (int n = 0; n < kN; ++n) {
        const float x = n == 0 ? 1.0f : 0.0f, zero = 0.0f;
        float ol, orr;
        bank->process(&zero, &x, &zero, 0.0f, &ol, &orr, 1);
        for (size_t j = 0; j < bands.size(); ++j)
            ir[j][static_cast<size_t>(n)] = bank->state().analysisLeft.bp2[bands[j]];
    }
    std::vector<double> out;
    for (size_t j = 0; j < bands.size(); ++j)
        out.push_back(test::peakFrequency(ir[j], 20.0, 0.48 * sampleRate, sampleRate));
    return out;
}

TEST(VocoderBank, BandTuningFollowsFocusAndTheSampleRate) {
    const std::vector<int> bands = {0, 4, 8, 12, 16, 20, 24, 28, 31};
    // Tuning frequencies at 44.1 kHz (2·sin(pi·fc/rate) = u[k]), rounded to 1 Hz.
    const std::pair<float, std::vector<double>> rows[] = {
        {0.0f, {220, 220, 221, 222, 223, 225, 228, 231, 234}},
        {0.5f, {220, 249, 397, 759, 1430, 2513, 4131, 6463, 7350}},
        {1.0f, {220, 376, 1273, 3606, 7350, 7350, 7350, 7350, 7350}},
    };
    TMSystemInfo info;
    for (const auto& [focus, hz] : rows) {
        VocoderBank bank(info);
        bank.setFocus(focus);
        for (size_t j = 0; j < bands.size(); ++j)
            EXPECT_NEAR(44100.0 / M_PI * std::asin(bank.u(bands[j]) / 2.0), hz[j], 0.5 + 1e-4 * hz[j])
                << "focus " << focus << " band " << bands[j];
    }
    // Measured: low bands (where the filter structure's own detuning is small) peak on their
    // tuning at 44.1 and at 96 kHz.
    const std::vector<double>& tuning = rows[1].second;
    for (float rate : {44100.0f, 96000.0f}) {
        const std::vector<double> got = measuredCentres(0.5f, {0, 4, 8}, rate);
        for (size_t j = 0; j < got.size(); ++j)
            EXPECT_NEAR(got[j], tuning[j], 1.0 + 0.02 * tuning[j]) << rate << " Hz, band " << bands[j];
    }
}

// Below 44.1 kHz the rate factor would tune the top bands past their filters' stability bound,
// where the anti-denormal offset alone grows into a full-scale Nyquist tone. After a burst of
// noise every band must die away at every supported rate and every corner of the controls.
TEST(VocoderBank, SilenceStaysSilentAtLowRates) {
    const FpModeGuard mode;
    for (float rate : {11050.0f, 16000.0f, 22050.0f, 32000.0f, 35000.0f}) {
        for (int corner = 0; corner < 16; ++corner) {
            const Settings p{static_cast<float>(corner & 1), static_cast<float>((corner >> 1) & 1),
                             static_cast<float>((corner >> 2) & 1), corner >= 8, 1.0f};
            SCOPED_TRACE(testing::Message() << rate << " Hz, focus " << p.focus << " shift " << p.shift
                                            << " response " << p.response << " articulate " << p.articulate);
            TMSystemInfo info;
            auto bank = makeBank(info, p, rate);
            auto stable = [](float f, float q) { return f * f + 2.0f * q * f < 4.0f; };
            for (int k = 0; k < kB; ++k) {
                const float q = std::max(bank->q1(k), bank->q2(k)), qa = bank->articulateQ(k);
                EXPECT_TRUE(stable(bank->fa(k), q) && stable(bank->fs(k), q)) << "band " << k;
                EXPECT_TRUE(stable(bank->articulateFa(k), qa) && stable(bank->articulateFs(k), qa))
                    << "band " << k;
            }
            test::Noise noise;
            float offset = 1e-8f, loudest = 0.0f;
            const int frames = static_cast<int>(rate), burst = frames / 4;
            for (int i = 0; i < frames; i += 32) {
                float in[32], ol[32], orr[32];
                for (int j = 0; j < 32; ++j) in[j] = i < burst ? noise.next() : 0.0f;
                bank->controlBlock();
                bank->process(in, in, in, offset, ol, orr, 32);
                if (i >= frames - burst)
                    for (int j = 0; j < 32; ++j)
                        loudest = std::max({loudest, std::fabs(ol[j]), std::fabs(orr[j])});
            }
            EXPECT_LT(loudest, 1e-6f);
        }
    }
}

// The articulate bank: log-spaced centres over the formant range at every rate, the shift
// moving only the synthesis bands, and a noise gate that opens on hiss and stays shut on a
// voiced sound, the more so with no consonant path at all. A change of bank starts from
// silent states.
TEST(VocoderBank, ArticulateBandsShiftAndConsonantGate) {
    TMSystemInfo info;
    auto bank = makeBank(info, {0.5f, 0.5f, 0.5f, true, 1.0f}, 96000.0f);
    EXPECT_NEAR(bank->articulateCentre(0), 130.0, 0.01);
    EXPECT_NEAR(bank->articulateCentre(kB - 1), 4500.0, 0.1);
    for (int k = 0; k < kB; ++k) {
        if (k > 0) {
            EXPECT_NEAR(bank->articulateCentre(k) / bank->articulateCentre(k - 1),
                        std::pow(4500.0 / 130.0, 1.0 / 31), 1e-4);
        }
        EXPECT_NEAR(bank->articulateFa(k), 2.0 * std::sin(M_PI * bank->articulateCentre(k) / 96000.0), 1e-6);
        EXPECT_EQ(bank->articulateFs(k), bank->articulateFa(k));
    }
    bank->setShift(0.0f);  // -0.125 of a coefficient: the synthesis bands 919 Hz down
    for (int k = 0; k < kB; ++k) {
        const double hz = bank->articulateCentre(k) - 0.125 * 7350.0;
        EXPECT_NEAR(bank->articulateFs(k), hz > 0.0 ? 2.0 * std::sin(M_PI * hz / 96000.0) : 0.0, 1e-6) << k;
    }

    auto gateAfter = [](float consonants, auto signal) {
        TMSystemInfo rateInfo;
        auto b = makeBank(rateInfo, {0.5f, 0.5f, 0.5f, true, consonants});
        float x[32], out[2][32], carrier[32], opened = 0.0f;
        for (int block = 0; block < 200; ++block) {
            for (int i = 0; i < 32; ++i)
                x[i] = signal(block * 32 + i), carrier[i] = 0.3f * ((block * 32 + i) % 2);
            b->controlBlock();
            b->process(carrier, x, x, 1e-8f, out[0], out[1], 32);
            opened = std::max(opened, b->state().consonant.gate);
        }
        return opened;
    };
    test::Noise noise;
    float previous = 0.0f;
    auto hiss = [&](int) {  // white noise, differentiated: most of its level at the top
        const float n = noise.next(), d = n - previous;
        previous = n;
        return 0.3f * d;
    };
    auto vowel = [](int i) { return 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 200.0 * i / 44100.0)); };
    EXPECT_GT(gateAfter(1.0f, hiss), 0.0f);
    EXPECT_EQ(gateAfter(1.0f, vowel), 0.0f);
    EXPECT_EQ(gateAfter(0.0f, hiss), 0.0f);

    // Back to the classic bank: the articulate bank's ringing is not carried over.
    TMSystemInfo classicInfo;
    auto b = makeBank(classicInfo, {0.5f, 0.5f, 0.5f, true, 1.0f});
    float x[32], o[2][32];
    for (int i = 0; i < 32; ++i) x[i] = hiss(i);
    b->process(x, x, x, 1e-8f, o[0], o[1], 32);
    b->setArticulate(false);
    b->applyPending();
    const vocoder::FilterState silent{};
    EXPECT_EQ(std::memcmp(&b->state().analysisLeft, &silent, sizeof silent), 0);
    EXPECT_EQ(std::memcmp(&b->state().synthesis, &silent, sizeof silent), 0);
}

TEST(VocoderBank, ResponseEdges) {
    TMSystemInfo info;
    VocoderBank bank(info);
    // Response 0: 120 ms release and no resonance; out-of-range values act as the nearest end
    // instead of producing NaN coefficients.
    for (float v : {0.0f, -3.0f, std::nanf("")}) {
        bank.setResponse(v);
        EXPECT_FLOAT_EQ(bank.releaseMs(), 120.0f) << v;
        EXPECT_NEAR(bank.releaseFactor(), 1.0 / (120.0 * 44.1), 1e-6 / (120.0 * 44.1));
        for (int k = 0; k < kB; ++k) EXPECT_TRUE(bank.q1(k) == 1.0f && bank.q2(k) == 1.0f) << v << " " << k;
    }
    for (float v : {1.0f, 7.0f}) {
        bank.setResponse(v);
        EXPECT_FLOAT_EQ(bank.releaseMs(), 10.0f);
        EXPECT_NEAR(bank.releaseFactor(), 1.0 / (10.0 * 44.1), 1e-6 / (10.0 * 44.1));
        EXPECT_FLOAT_EQ(bank.resonanceAmount(), 0.9f);
        EXPECT_NEAR(bank.q1(0), 0.19f, 1e-6f);  // the second stage takes 0.84 of the first's resonance
        EXPECT_NEAR(bank.q2(0), 0.3196f, 1e-6f);
    }
}

}  // namespace
}  // namespace kf
