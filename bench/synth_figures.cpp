#include "synth_figures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <initializer_list>
#include <numbers>
#include <utility>

#include "common/fp_safety.h"
#include "engine/carrier_synth.h"
#include "engine/dynamics.h"
#include "engine/wavetables.h"

namespace kf::figures {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kSpectrum = 65536;

double decibels(double ratio) {
    return 20.0 * std::log10(std::max(ratio, 1e-30));
}

// A synthesizer with everything it reads, at `rate`: sine, no warp, no noise, high-pass at
// the lowest cutoff, level 0.5.
struct Synth {
    explicit Synth(float rate) {
        info.setSampleRate(rate);
        controls.setWaveform(0.0f);
        controls.setPulseWidth(0.5f);
        controls.setNoise(0.0f);
        controls.setCutoff(0.0f);
        controls.setResonance(0.0f);
        controls.setFilterType(0.0f);
        controls.setLevel(0.5f);
        controls.setOctave(0.5f);
        controls.setBendRange(0.0f);
        controls.setBend(0.5f);
        controls.applyPending();
    }

    void hold(std::initializer_list<std::pair<float, float>> notes) {
        std::array<HeldNote, kHeldNoteSlots> slots{};
        std::size_t i = 0;
        for (auto [note, weight] : notes) slots[i++] = {note, weight};
        rebuildVoices(controls, slots);
    }

    // Largest step over `frames` frames, run in control blocks as the engine runs it.
    float largestStep(int frames) {
        float largest = 0.0f;
        for (int i = 0; i < frames; i += kControlInterval) {
            std::array<float, kControlInterval> out{};
            synth.render(out.data(), kControlInterval, kEngineAntiDenormal);
            for (float y : out) {
                largest = std::max(largest, std::fabs(y - last));
                last = y;
            }
        }
        return largest;
    }

    TMSystemInfo info;
    SynthControls controls{info};
    std::array<float, CarrierSynth::kNoiseTableSize> noise{};
    CarrierSynth synth{controls, info, noise.data()};
    float last = 0.0f;
};

void fft(std::vector<std::complex<double>>& x) {
    const std::size_t n = x.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> w = std::polar(1.0, -2.0 * kPi / static_cast<double>(len));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> wk = 1.0;
            for (std::size_t k = 0; k < len / 2; ++k, wk *= w) {
                const std::complex<double> a = x[i + k], b = x[i + k + len / 2] * wk;
                x[i + k] = a + b;
                x[i + k + len / 2] = a - b;
            }
        }
    }
}

double blackmanHarris(int i, int n) {
    const double t = 2.0 * kPi * i / n;
    return 0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
}

// The frequency the synthesizer actually plays for `note` (its phase step is a float).
double playedFrequency(float note, float rate) {
    TMSystemInfo info;
    info.setSampleRate(rate);
    return static_cast<double>(info.frequencyOfNote(note) * info.inverseRate) * rate;
}

// sum of x[n] e^(-j w n), the rotation kept by recurrence rather than a sine per sample.
template <typename T>
std::complex<double> dftAt(const std::vector<T>& x, double w) {
    const std::complex<double> turn = std::polar(1.0, -w);
    std::complex<double> rotation = 1.0, sum = 0.0;
    for (T v : x) {
        sum += static_cast<double>(v) * rotation;
        rotation *= turn;
    }
    return sum;
}

}  // namespace

NoteChangeSteps noteChangeSteps() {
    // Each event at eight places in the note's cycle (one control block apart); the roughest
    // counts.
    constexpr int kSettle = 4096, kEvent = kControlInterval, kPlaces = 8;
    NoteChangeSteps steps{-1e9, -1e9, -1e9};
    for (int place = 0; place < kPlaces; ++place) {
        const int settle = kSettle + place * kControlInterval;
        Synth a(44100.0f);
        a.largestStep(settle);
        a.hold({{69.0f, 1.0f}});
        const float onset = a.largestStep(kEvent);
        const float steady = a.largestStep(settle);
        a.hold({});
        const float release = a.largestStep(kEvent);
        steps.noteOn = std::max(steps.noteOn, decibels(onset / steady));
        steps.noteOff = std::max(steps.noteOff, decibels(release / steady));

        Synth b(44100.0f);
        b.hold({{57.0f, 1.0f}, {69.0f, 1.0f}});
        b.largestStep(settle);
        b.hold({{69.0f, 1.0f}});
        const float change = b.largestStep(kEvent);
        steps.voiceChange = std::max(steps.voiceChange, decibels(change / b.largestStep(kSettle)));
    }
    return steps;
}

std::vector<float> renderSaw(float note, float sampleRate) {
    Synth s(sampleRate);
    s.controls.setWaveform(0.5f);  // the saw slot
    s.controls.setLevel(1.0f);
    s.controls.applyPending();
    // The second voice plays the full saw (the first one's is softer).
    SynthVoice& voice = s.controls.voice(1);
    voice.note = note;
    voice.velocityWeight = 1.0f;
    s.controls.updatePitches();
    s.controls.updateGains();
    std::vector<float> out(kSpectrum);
    for (int i = 0; i < 4096; ++i) s.synth.renderSample(kEngineAntiDenormal);
    for (int i = 0; i < kSpectrum; ++i) {
        s.synth.renderSample(kEngineAntiDenormal);
        out[static_cast<std::size_t>(i)] =
            static_cast<float>(s.synth.lastFilterInput() * blackmanHarris(i, kSpectrum));
    }
    return out;
}

AliasFigures sawAlias(float note, float sampleRate) {
    const std::vector<float> saw = renderSaw(note, sampleRate);
    std::vector<std::complex<double>> x(saw.begin(), saw.end());
    fft(x);
    const double binHz = sampleRate / static_cast<double>(kSpectrum);
    const double f0 = playedFrequency(note, sampleRate);
    auto nearHarmonic = [&](int bin) {
        const double f = bin * binHz;
        const double h = std::round(f / f0);
        return h >= 1.0 && h * f0 < sampleRate / 2.0 && std::fabs(f - h * f0) <= 6.0 * binHz;
    };
    double total = 0.0, alias = 0.0, worst = 0.0, fundamental = 0.0;
    for (int bin = 7; bin <= kSpectrum / 2; ++bin) {
        const double power = std::norm(x[static_cast<std::size_t>(bin)]);
        total += power;
        if (std::fabs(bin * binHz - f0) <= 6.0 * binHz) fundamental = std::max(fundamental, power);
        if (!nearHarmonic(bin)) {
            alias += power;
            worst = std::max(worst, power);
        }
    }
    return {10.0 * std::log10(std::max(alias, 1e-300) / total),
            10.0 * std::log10(std::max(worst, 1e-300) / fundamental)};
}

double sawHarmonicChangeDb(float note, float sampleRate, double upToHz) {
    const std::vector<float> saw = renderSaw(note, sampleRate);
    double windowSum = 0.0;
    for (int i = 0; i < kSpectrum; ++i) windowSum += blackmanHarris(i, kSpectrum);
    const double f0 = playedFrequency(note, sampleRate);
    const Wavetable& table = wavetable(Wave::kSaw);
    double largest = 0.0;
    for (int h = 1; h * f0 < upToHz; ++h) {
        const std::complex<double> played = dftAt(saw, 2.0 * kPi * h * f0 / sampleRate);
        std::complex<double> stored = 0.0;
        for (int i = 0; i < kWaveTableSize; ++i)
            stored +=
                static_cast<double>(table.value(i)) * std::polar(1.0, -2.0 * kPi * h * i / kWaveTableSize);
        // Linear interpolation weighs harmonic h of the table by sinc^2(h / 1024).
        const double u = kPi * h / kWaveTableSize;
        const double interpolation = std::pow(std::sin(u) / u, 2.0);
        const double expected = 2.0 * std::abs(stored) / kWaveTableSize * interpolation;
        largest = std::max(largest, std::fabs(decibels(2.0 * std::abs(played) / windowSum / expected)));
    }
    return largest;
}

namespace {

// The EQ's complex response at `hz` for one setting, from a small impulse (far below the soft
// clip's bend) run through the master section in control blocks.
std::vector<std::complex<double>> eqResponse(float rate, std::array<float, 3> setting,
                                             const std::vector<double>& hz) {
    TMSystemInfo info;
    info.setSampleRate(rate);
    MasterSection master(info);
    master.setEqLow(setting[0]);
    master.setEqMid(setting[1]);
    master.setEqHigh(setting[2]);
    master.applyPending();
    std::array<float, kControlInterval> silence{}, right{};
    for (int i = 0; i < 2; ++i) {  // the master gain ramps to its level first
        master.controlBlock();
        right = silence;
        std::array<float, kControlInterval> left = silence;
        master.process(left.data(), right.data(), 0.0f, kControlInterval);
    }
    constexpr float kImpulse = 1e-3f;
    const int frames =
        static_cast<int>(2048.0f * rate / 44100.0f) / kControlInterval * kControlInterval + 256;
    std::vector<double> y;
    for (int i = 0; i < frames; i += kControlInterval) {
        master.controlBlock();
        std::array<float, kControlInterval> left = silence;
        right = silence;
        if (i == 0) left[0] = kImpulse;
        master.process(left.data(), right.data(), 0.0f, kControlInterval);
        for (float v : left) y.push_back(v / kImpulse);
    }
    std::vector<std::complex<double>> response;
    for (double f : hz) response.push_back(dftAt(y, 2.0 * kPi * f / rate));
    return response;
}

}  // namespace

double eqRateDeviationDb(float sampleRate) {
    std::vector<double> hz;
    // 20 Hz .. 16 kHz, or as much of it as lies well below half a lower rate.
    const double top = std::min(16000.0, 0.3628 * sampleRate);
    for (int i = 0; i <= 60; ++i) hz.push_back(20.0 * std::pow(top / 20.0, i / 60.0));
    constexpr std::array<std::array<float, 3>, 11> kSettings = {{{0.5f, 0.5f, 0.5f},
                                                                 {0.0f, 0.5f, 0.5f},
                                                                 {1.0f, 0.5f, 0.5f},
                                                                 {0.5f, 0.0f, 0.5f},
                                                                 {0.5f, 1.0f, 0.5f},
                                                                 {0.5f, 0.5f, 0.0f},
                                                                 {0.5f, 0.5f, 1.0f},
                                                                 {1.0f, 0.5f, 0.0f},
                                                                 {0.0f, 0.5f, 1.0f},
                                                                 {0.0f, 1.0f, 0.0f},
                                                                 {1.0f, 0.0f, 1.0f}}};
    double largest = 0.0;
    for (const auto& setting : kSettings) {
        const auto reference = eqResponse(44100.0f, setting, hz);
        const auto here = eqResponse(sampleRate, setting, hz);
        for (std::size_t i = 0; i < hz.size(); ++i)
            largest = std::max(largest, std::fabs(decibels(std::abs(here[i]) / std::abs(reference[i]))));
    }
    return largest;
}

}  // namespace kf::figures
