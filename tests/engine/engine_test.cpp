#include "engine/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/effect.h"
#include "common/fp_safety.h"
#include "test_util.h"

namespace kf {
namespace {

using test::rms;
using test::sameBits;
using test::Signal;

// An effect whose output depends on where its ticks fall: a one-pole smoother whose gain
// changes at every tick. Records what the engine asks of it.
class FakeEffect : public TMEffect {
  public:
    FakeEffect(int32_t tag, TMSystemInfo* info, std::vector<std::string>* log)
        : TMEffect(tag, info, 1), log_(log) {}
    int32_t process(float* l, float* r, int32_t n) noexcept override {
        ++processCalls;
        maxBlock = std::max(maxBlock, n);
        frames += n;
        for (int32_t i = 0; i < n; ++i) {
            state_ = 0.5f * state_ + 0.5f * l[i];
            l[i] = state_ * gain_;
            r[i] = r[i] * gain_;
        }
        return n;
    }
    void controlTick() noexcept override {
        ++ticks;
        gain_ = 1.0f + 0.01f * static_cast<float>(ticks % 7);
    }
    void reset() override { log("reset"); }
    void updateTiming(bool keep) override { log(keep ? "timing(true)" : "timing(false)"); }
    bool start() override {
        log("start");
        return true;
    }
    int processCalls = 0, ticks = 0, maxBlock = 0;
    int64_t frames = 0;

  private:
    void log(const char* what) {
        if (log_) log_->push_back(std::to_string(ownerTag()) + " " + what);
    }
    std::vector<std::string>* log_;
    float state_ = 0.0f, gain_ = 1.0f;
};

class TestHost : public EngineHost {
  public:
    bool beginBlock(HostTimeInfo& t) override {
        if (!haveTime) return false;
        t.tempo = tempo;
        t.transportPlaying = false;
        t.ppqPosition = 0.0;
        return true;
    }
    bool haveTime = false;
    double tempo = 120.0;
};

// The synthesizer as a plain noise source at full level (the voices stay silent).
void playNoise(Engine& e) {
    e.systemInfo().lastVelocityWeight = 1.0f;
    e.synth().setLevel(1.0f);
    e.synth().setNoise(1.0f);
    e.setSynthOn(true);
}

// A stereo test signal: two noisy tones with a slow amplitude pattern, plus a DC part.
void makeInput(size_t n, Signal& a, Signal& b, uint32_t seed = 5) {
    test::Noise noise(seed);
    a.resize(n);
    b.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 44100.0;
        const float env = static_cast<float>(0.5 + 0.5 * std::sin(2.0 * M_PI * 3.0 * t));
        a[i] = env * static_cast<float>(0.4 * std::sin(2.0 * M_PI * 330.0 * t)) + 0.1f * noise.next() + 0.05f;
        b[i] =
            (1.0f - env) * static_cast<float>(0.3 * std::sin(2.0 * M_PI * 1210.0 * t)) + 0.1f * noise.next();
    }
}

// Renders through the engine in host blocks that cycle through `blocks`.
void render(Engine& e, const Signal& a, const Signal& b, Signal& l, Signal& r,
            const std::vector<int>& blocks) {
    l.assign(a.size(), 0.0f);
    r.assign(a.size(), 0.0f);
    size_t pos = 0, k = 0;
    while (pos < a.size()) {
        const int n = static_cast<int>(
            std::min<size_t>(static_cast<size_t>(blocks[k++ % blocks.size()]), a.size() - pos));
        const float* in[2] = {a.data() + pos, b.data() + pos};
        float* out[2] = {l.data() + pos, r.data() + pos};
        e.process(in, out, n);
        pos += static_cast<size_t>(n);
    }
}

void configure(Engine& e, float mix, int carrier, int modulator) {
    e.setMix(mix);
    e.setCarrierMode(carrier);
    e.setModulatorMode(modulator);
    e.inputStage1().setGain(0.25f);
    e.inputStage1().setRatio(0.6f);
    e.inputStage1().setGate(0.3f);
    e.inputStage2().setGain(0.2f);
    e.inputStage2().setRatio(0.5f);
    e.inputStage2().setGate(0.05f);
    e.master().setCompAmount(0.5f);
    e.master().setEqHigh(0.7f);
    e.vocoder().setResponse(0.8f);
}

TEST(Engine, OutputDoesNotDependOnHostBlockSizes) {
    Signal a, b;
    makeInput(20000, a, b);
    Signal refL, refR;
    bool first = true;
    const std::vector<std::vector<int>> splits = {
        {4096}, {1}, {7}, {32}, {33}, {512}, {1, 31, 64, 5, 100, 3}};
    for (const auto& blocks : splits) {
        SCOPED_TRACE(testing::Message() << "first block size " << blocks[0]);
        Engine e;
        FakeEffect phaser(160, &e.systemInfo(), nullptr);
        e.setEffects(nullptr, nullptr, &phaser, nullptr);
        e.setEffectChoice(kPhaserChoice);
        configure(e, 0.7f, 2, 0);
        Signal l, r;
        render(e, a, b, l, r, blocks);
        EXPECT_LE(phaser.maxBlock, 32);
        EXPECT_EQ(phaser.frames, static_cast<int64_t>(a.size()));
        EXPECT_EQ(phaser.ticks, static_cast<int>((a.size() + 31) / 32));  // one per 32 frames
        if (first) {
            refL = l, refR = r, first = false;
            continue;
        }
        EXPECT_TRUE(sameBits(l, refL));
        EXPECT_TRUE(sameBits(r, refR));
    }
}

// Mix 0 is the dry chain alone (the vocoder's settings cannot be heard), mix 1 the vocoder
// alone (the dry chain's routing cannot be heard), and a mix between differs from both.
TEST(Engine, MixEndsAreTheDryChainAndTheVocoder) {
    Signal a, b;
    makeInput(8192, a, b);
    auto run = [&](float mix, float focus, int carrier) {
        Engine e;
        configure(e, mix, carrier, 0);
        e.vocoder().setFocus(focus);
        Signal l, r;
        render(e, a, b, l, r, {256});
        return l;
    };
    EXPECT_TRUE(sameBits(run(0.0f, 0.2f, 0), run(0.0f, 0.9f, 0)));
    EXPECT_FALSE(sameBits(run(1.0f, 0.2f, 0), run(1.0f, 0.9f, 0)));
    // A quarter of the way from dry to vocoder lies nearer the dry end.
    const Signal dry = run(0.0f, 0.5f, 0), quarter = run(0.25f, 0.5f, 0), vocoder = run(1.0f, 0.5f, 0);
    double toDry = 0.0, toVocoder = 0.0;
    for (size_t i = 0; i < quarter.size(); ++i) {
        toDry += double(quarter[i] - dry[i]) * (quarter[i] - dry[i]);
        toVocoder += double(quarter[i] - vocoder[i]) * (quarter[i] - vocoder[i]);
    }
    EXPECT_GT(toDry, 0.0);
    EXPECT_LT(toDry, 0.5 * toVocoder);
}

TEST(Engine, CarrierModeTwoIsAStereoVocoder) {
    // Input A is active in the first half, input B in the second; the synthesizer (noise)
    // is the synthesis input. Mode 2 analyses A on the left and B on the right.
    const size_t n = 44100;
    Signal a(n, 0.0f), b(n, 0.0f);
    for (size_t i = 0; i < n; ++i) {
        const float s = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 700.0 * double(i) / 44100.0));
        (i < n / 2 ? a : b)[i] = s;
    }
    auto run = [&](int carrier, Signal& l, Signal& r) {
        TestHost host;
        Engine e(&host);
        configure(e, 1.0f, carrier, 2);
        playNoise(e);
        render(e, a, b, l, r, {512});
    };
    Signal l, r;
    run(2, l, r);
    const size_t q = n / 4;
    EXPECT_GT(rms(l, q, 2 * q), 20.0 * rms(l, 3 * q, 4 * q));
    EXPECT_GT(rms(r, 3 * q, 4 * q), 20.0 * rms(r, q, 2 * q));
    run(0, l, r);  // both sides follow A
    EXPECT_GT(rms(r, q, 2 * q), 20.0 * rms(r, 3 * q, 4 * q));
    EXPECT_TRUE(sameBits(l, r));
}

// Constant offsets are removed; the meters follow signed peaks, so a negative input (over
// 200 ms of it) lets them fall to 0.
TEST(Engine, ConstantOffsetsAreRemovedAndMetersFollowSignedPeaks) {
    for (float mix : {0.0f, 1.0f}) {
        Engine e;
        configure(e, mix, 0, 0);
        Signal a(88200, 0.5f), b(88200, -0.3f), l, r;
        render(e, a, b, l, r, {1024});
        double meanL = 0.0, meanR = 0.0;
        for (size_t i = a.size() - 8192; i < a.size(); ++i) meanL += l[i], meanR += r[i];
        EXPECT_LT(std::fabs(meanL / 8192.0), 1e-4) << "mix " << mix;
        EXPECT_LT(std::fabs(meanR / 8192.0), 1e-4) << "mix " << mix;
        EXPECT_GT(e.meterValue(Engine::kMeterAnalysisLeft).load(), 0.1f);
        Signal na(10000, -0.8f), nb(10000, 0.0f);
        render(e, na, nb, l, r, {441});
        EXPECT_EQ(e.meterValue(Engine::kMeterAnalysisLeft).load(), 0.0f);
        EXPECT_EQ(e.meterValue(Engine::kMeterSynthesis).load(), 0.0f);
    }
}

TEST(Engine, LoadingFlagGivesSilenceAndChangesNothing) {
    Signal a, b;
    makeInput(6000, a, b);
    Engine e1, e2;
    FakeEffect fx1(155, &e1.systemInfo(), nullptr), fx2(155, &e2.systemInfo(), nullptr);
    e1.setEffects(&fx1, nullptr, nullptr, nullptr);
    e2.setEffects(&fx2, nullptr, nullptr, nullptr);
    for (Engine* e : {&e1, &e2}) configure(*e, 0.5f, 2, 1), e->setEffectChoice(kReverbChoice);
    Signal l1, r1, l2, r2;
    const Signal a1(a.begin(), a.begin() + 3001), b1(b.begin(), b.begin() + 3001);
    render(e1, a1, b1, l1, r1, {100});
    render(e2, a1, b1, l2, r2, {100});

    e1.loadingFlag().store(1);
    const int counter = e1.controlCounter();
    const int ticks = fx1.ticks;
    Signal l(300, 1.0f), r(300, 1.0f);
    const float* in[2] = {a.data(), b.data()};
    float* out[2] = {l.data(), r.data()};
    e1.process(in, out, 300);
    EXPECT_EQ(test::peak(l) + test::peak(r), 0.0f);
    EXPECT_EQ(e1.controlCounter(), counter);
    EXPECT_EQ(fx1.ticks, ticks);
    EXPECT_EQ(e1.processingFlag().load(), 0);
    e1.loadingFlag().store(0);

    // Afterwards the engine carries on exactly as one that never saw the loading call.
    const Signal a2(a.begin() + 3001, a.end()), b2(b.begin() + 3001, b.end());
    render(e1, a2, b2, l1, r1, {77});
    render(e2, a2, b2, l2, r2, {77});
    EXPECT_TRUE(sameBits(l1, l2));
    EXPECT_TRUE(sameBits(r1, r2));
}

// The loader's side of the hand-shake: set the loading flag, wait while a call is processing,
// change state, clear the flag. No processing call may ever run its body meanwhile.
TEST(Engine, LoadHandshakeExcludesProcessing) {
    struct Watch : EngineHost {
        std::atomic<int>* loaderInside;
        std::atomic<int> violations{0}, bodies{0};
        bool beginBlock(HostTimeInfo&) override {  // runs inside the processing body
            if (loaderInside->load()) violations.fetch_add(1);
            bodies.fetch_add(1);
            return false;
        }
        void dispatchEvents() override {  // every control block of the body
            if (loaderInside->load()) violations.fetch_add(1);
        }
    };
    std::atomic<int> loaderInside{0};
    std::atomic<bool> stop{false};
    Watch host;
    host.loaderInside = &loaderInside;
    Engine e(&host);
    std::thread audio([&] {
        std::vector<float> a(64, 0.1f), b(64, 0.1f), l(64), r(64);
        const float* in[2] = {a.data(), b.data()};
        float* out[2] = {l.data(), r.data()};
        while (!stop.load()) e.process(in, out, 64);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (int i = 0; i < 2000; ++i) {
        e.loadingFlag().store(1);
        while (e.processingFlag().load()) std::this_thread::yield();
        loaderInside.store(1);
        e.assertAudioHeldOut();
        e.vocoder().setFocus(static_cast<float>(i % 10) / 10.0f);
        std::this_thread::yield();
        const int bodies = host.bodies.load();
        loaderInside.store(0);
        e.loadingFlag().store(0);
        // A processing body runs between two loads, so the threads interleave even on a busy machine.
        while (host.bodies.load() == bodies && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }
    stop.store(true);
    audio.join();
    EXPECT_EQ(host.violations.load(), 0);
    EXPECT_GE(host.bodies.load(), 2000);
}

// Rounding and flushes hold inside the guard, a nested guard changes only the rounding, and
// the caller's mode comes back.
TEST(FpModeGuard, RoundingAndFlushesHoldInsideAndNest) {
    volatile float one = 1.0f, three = 3.0f, tiny = 1e-20f;  // nearest rounds 1/3 up
    const float nearest = one / three;
    // Bits, not a comparison: with denormals-are-zero a denormal compares equal to 0.
    auto flushed = [&] { return std::bit_cast<uint32_t>(tiny * tiny) == 0u; };
    const unsigned original = _mm_getcsr();
    _mm_setcsr(original | static_cast<unsigned>(FpRounding::kUp));  // a caller in another mode
    {
        const FpModeGuard truncating;
        EXPECT_TRUE(one / three < nearest && flushed());
        {
            const FpModeGuard inner(FpRounding::kNearest);
            EXPECT_TRUE(one / three == nearest && flushed());
        }
        EXPECT_LT(one / three, nearest);
    }
    EXPECT_TRUE(-one / three > -nearest && one / three == nearest && !flushed());
    _mm_setcsr(original);
}

TEST(Engine, NonFiniteInputCountsAsSilence) {
    Signal a, b;
    makeInput(12000, a, b);
    Signal ca = a, cb = b;  // the clean twin: zeros where the bad samples are
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    for (size_t i = 2000; i < 2600; ++i) {
        a[i] = bad[i % 3];
        b[i] = bad[(i + 1) % 3];
        ca[i] = cb[i] = 0.0f;
    }
    Engine e1, e2;
    configure(e1, 0.6f, 2, 0);
    configure(e2, 0.6f, 2, 0);
    Signal l1, r1, l2, r2;
    render(e1, a, b, l1, r1, {128, 7, 37});  // odd blocks: the scalar tails too
    render(e2, ca, cb, l2, r2, {128});
    EXPECT_TRUE(test::allFinite(l1));
    EXPECT_TRUE(sameBits(l1, l2));
    EXPECT_TRUE(sameBits(r1, r2));
    EXPECT_GT(rms(l1, 8000, 12000), 1e-3);  // back to normal sound

    // Extreme finite input cannot overflow anything either.
    Signal big(4096), neg(4096);
    for (size_t i = 0; i < big.size(); ++i) big[i] = (i % 3) ? 3e38f : -3e38f, neg[i] = -big[i];
    Engine e3;
    configure(e3, 0.5f, 2, 0);
    e3.inputStage1().setGain(1.0f), e3.inputStage2().setGain(1.0f), e3.vocoder().setResponse(1.0f);
    render(e3, big, neg, l1, r1, {32});
    EXPECT_TRUE(test::allFinite(l1) && test::allFinite(r1));
}

class CountingListener : public TMBPMChangeInterface {
  public:
    void bpmChanged() override { ++calls; }
    int calls = 0;
};

TEST(Engine, TempoFollowing) {
    TestHost host;
    host.haveTime = true;
    Engine e(&host);
    CountingListener listener;
    e.tempoListeners().add(&listener);
    Signal a(4096, 0.0f), b(4096, 0.0f), l, r;
    const int setups = e.setupCount();

    render(e, a, b, l, r, {256});  // host at the stored tempo: nothing to do
    EXPECT_EQ(listener.calls, 0);

    host.tempo = 130.0;
    render(e, a, b, l, r, {256});
    EXPECT_EQ(e.tempo(), 130.0);
    EXPECT_EQ(listener.calls, 1);
    EXPECT_NEAR(e.systemInfo().samplesPerBeat, 44100.0f * 60.0f / 130.0f, 0.01f);

    // Jitter around a tempo is not a change.
    for (int i = 0; i < 64; ++i) {
        host.tempo = (i % 2) ? 130.00001 : 129.99999;
        render(e, Signal(a.begin(), a.begin() + 64), Signal(b.begin(), b.begin() + 64), l, r, {64});
    }
    EXPECT_EQ(listener.calls, 1);

    // 500 or more: the stored tempo stays below 500 and the listeners hear it once.
    host.tempo = 900.0;
    render(e, a, b, l, r, {256});
    EXPECT_TRUE(e.tempo() < 500.0 && e.tempo() > 499.99) << e.tempo();
    EXPECT_EQ(listener.calls, 2);
    EXPECT_EQ(e.setupCount(), setups) << "a tempo change never runs the set-up with its reset";

    // Slower than the minimum runs at 45; then neither a NaN nor a host without time moves it.
    for (double tempo : {10.0, std::numeric_limits<double>::quiet_NaN(), 130.0}) {
        host.tempo = tempo;
        host.haveTime = tempo != 130.0;
        render(e, a, b, l, r, {256});
        EXPECT_EQ(e.tempo(), 45.0) << tempo;
    }
    e.tempoListeners().remove(&listener);
}

TEST(Engine, SetupDrivesEffectsAndParametersInOrder) {
    std::vector<std::string> log;
    TestHost host;
    Engine e(&host);
    FakeEffect reverb(155, &e.systemInfo(), &log), delay(158, &e.systemInfo(), &log),
        phaser(160, &e.systemInfo(), &log), lofi(159, &e.systemInfo(), &log);
    e.setEffects(&reverb, &delay, &phaser, &lofi);
    e.setSampleRate(48000.0f);
    std::vector<std::string> expected;
    for (const char* tag : {"155 ", "158 ", "160 ", "159 "})
        for (const char* step : {"reset", "timing(false)", "start"})
            expected.push_back(tag + std::string(step));
    EXPECT_EQ(log, expected);
    // Rates outside 11050..196000 are not taken over.
    for (float rate : {11049.0f, 196001.0f, std::nanf("")}) {
        e.setSampleRate(rate);
        EXPECT_EQ(e.systemInfo().sampleRate, 48000.0f) << rate;
    }

    // Choice 4 (lo-fi) is processed but never ticked; choice 0 calls nothing.
    Signal a(1000, 0.1f), b(1000, 0.1f), l, r;
    e.setEffectChoice(kLofiChoice);
    render(e, a, b, l, r, {100});
    EXPECT_EQ(lofi.ticks, 0);
    EXPECT_EQ(lofi.frames, 1000);
    e.setEffectChoice(kNoEffectChoice);
    render(e, a, b, l, r, {100});
    EXPECT_EQ(lofi.frames, 1000);
    EXPECT_EQ(reverb.processCalls + delay.processCalls + phaser.processCalls, 0);
}

// Speech-like analysis input (a 110 Hz pulse train through two formant resonators stepping
// through four vowels) vocoded onto a white-noise carrier: in every window, the output's
// spectral shape over a set of measuring bands must follow the input's, and follow it better
// than it follows the shape of a different vowel.
TEST(Engine, VocodedNoiseFollowsTheFormants) {
    const double sr = 44100.0, formants[4][2] = {{730, 1090}, {270, 2290}, {300, 870}, {530, 1840}};
    const size_t vowelLen = 11025, n = vowelLen * 8;
    Signal speech(n), silence(n, 0.0f), l, r;
    double y[2][2] = {};  // the two resonators' last outputs
    for (size_t i = 0; i < n; ++i) {
        double x = (i % 401) == 0 ? 1.0 : 0.0;
        for (int f = 0; f < 2; ++f) {
            const double rr = std::exp(-M_PI * (80.0 + 20.0 * f) / sr);
            x = x + 2.0 * rr * std::cos(2.0 * M_PI * formants[(i / vowelLen) % 4][f] / sr) * y[f][0] -
                rr * rr * y[f][1];
            y[f][1] = y[f][0], y[f][0] = x;
        }
        speech[i] = static_cast<float>(x);
    }
    // Peaks at 0.5: below stage one's gate threshold of 1, so it passes at unity.
    const float peak = test::peak(speech);
    for (float& x : speech) x *= 0.5f / peak;
    TestHost host;
    Engine e(&host);
    e.setMix(1.0f);
    e.setCarrierMode(0);    // analysis: input A (speech)
    e.setModulatorMode(2);  // synthesis: the synthesizer's noise
    playNoise(e);
    e.inputStage1().setGate(1.0f);  // stage one passes at unity
    // Unsharpened bands: resonant low bands would spread their skirts over the formants.
    e.vocoder().setFocus(0.5f);
    e.vocoder().setResponse(0.0f);
    render(e, speech, silence, l, r, {512});

    // Band energies (dB) of each vowel's settled second pass through band-pass biquads (0 dB peak
    // gain, 2048 frames to settle). Every vowel shares the pulse train's overall tilt; what
    // identifies a vowel is how its spectrum departs from the average of all four.
    auto departures = [&](const Signal& x) {
        std::vector<std::vector<double>> w(4);
        for (double fc : {300, 450, 650, 900, 1250, 1700, 2300, 3000}) {
            const double c = 2.0 * M_PI * fc / sr, alpha = std::sin(c) / 8.0;
            const double a0 = 1 + alpha, a1 = -2 * std::cos(c), a2 = 1 - alpha;
            for (size_t v = 0; v < 4; ++v) {
                const size_t from = (v + 4) * vowelLen + 4096;
                double x1 = 0, x2 = 0, y1 = 0, y2 = 0, sum = 0;
                for (size_t i = from - 2048; i < from + 4096; ++i) {
                    const double yy = (alpha * x[i] - alpha * x2 - a1 * y1 - a2 * y2) / a0;
                    x2 = x1, x1 = x[i], y2 = y1, y1 = yy;
                    if (i >= from) sum += yy * yy;
                }
                w[v].push_back(10.0 * std::log10(sum / 4096.0 + 1e-20));
            }
            const double mean = (w[0].back() + w[1].back() + w[2].back() + w[3].back()) / 4.0;
            for (auto& window : w) window.back() -= mean;
        }
        return w;
    };
    auto correlation = [](const std::vector<double>& p, const std::vector<double>& q) {
        double mp = 0, mq = 0, sp = 0, sq = 0, spq = 0;
        for (size_t i = 0; i < 8; ++i) mp += p[i] / 8, mq += q[i] / 8;
        for (size_t i = 0; i < 8; ++i)
            sp += (p[i] - mp) * (p[i] - mp), sq += (q[i] - mq) * (q[i] - mq),
                spq += (p[i] - mp) * (q[i] - mq);
        return spq / std::sqrt(sp * sq);
    };
    const auto in = departures(speech), out = departures(l);
    double matched = 0.0, mismatched = 0.0;
    for (size_t v = 0; v < 4; ++v) {
        const double c = correlation(in[v], out[v]);
        EXPECT_GT(c, 0.2) << "vowel " << v;  // broad bands smear, but never invert, a shape
        matched += c / 4.0;
        mismatched += correlation(in[(v + 2) % 4], out[v]) / 4.0;
    }
    EXPECT_GT(matched, 0.55);
    EXPECT_LT(mismatched, matched - 0.8);
}

}  // namespace
}  // namespace kf
