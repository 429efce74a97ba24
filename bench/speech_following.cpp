#include "speech_following.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

namespace kf::measure {
namespace {

constexpr int kFrame = 2048;
constexpr int kBins = kFrame / 2 + 1;
constexpr int kBands = 15;
constexpr double kLowestCentreHz = 150.0;
constexpr int kRun = 38;                // frames per correlation run: 38 x 10 ms, about 384 ms
constexpr double kDynamicRange = 1e-4;  // 40 dB below the loudest voice frame, as an energy ratio

// In-place radix-2 transform; the frame length is a power of two.
void fft(std::vector<std::complex<double>>& a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j |= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2.0 * std::numbers::pi / static_cast<double>(len);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        // Products written out: the library's complex product checks for infinities at
        // every step, which costs more than the transform itself.
        auto times = [](std::complex<double> x, std::complex<double> y) {
            return std::complex<double>(x.real() * y.real() - x.imag() * y.imag(),
                                        x.real() * y.imag() + x.imag() * y.real());
        };
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> w(1.0);
            for (std::size_t k = 0; k < len / 2; ++k, w = times(w, step)) {
                const auto u = a[i + k], v = times(a[i + k + len / 2], w);
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

// Windowed frames every 10 ms: their power spectra and time-domain energies.
class Framer {
  public:
    explicit Framer(double rate)
        : hop_(std::max(1, static_cast<int>(std::lround(rate * 0.01)))), window_(kFrame) {
        // The periodic Hann window, so overlapping frames weight every sample alike.
        for (int i = 0; i < kFrame; ++i)
            window_[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / kFrame);
    }
    int frameCount(std::size_t length) const {
        return length < kFrame ? 0 : static_cast<int>((length - kFrame) / static_cast<std::size_t>(hop_)) + 1;
    }
    // Power per bin of frame `f` of `x` (samples past its end are silence); returns the
    // windowed frame's energy.
    double power(std::span<const float> x, int f, std::vector<double>& bins) {
        const std::size_t start = static_cast<std::size_t>(f) * static_cast<std::size_t>(hop_);
        double energy = 0.0;
        for (std::size_t i = 0; i < kFrame; ++i) {
            const double s = start + i < x.size() ? window_[i] * x[start + i] : 0.0;
            buffer_[i] = s;
            energy += s * s;
        }
        fft(buffer_);
        bins.resize(kBins);
        for (std::size_t b = 0; b < kBins; ++b) bins[b] = std::norm(buffer_[b]);
        return energy;
    }

  private:
    int hop_;
    std::vector<double> window_;
    std::vector<std::complex<double>> buffer_ = std::vector<std::complex<double>>(kFrame);
};

// First and one-past-last bin of each one-third-octave band.
std::vector<std::pair<int, int>> bandBins(double rate) {
    std::vector<std::pair<int, int>> bands;
    const double binHz = rate / kFrame;
    auto firstBinFrom = [&](double hz) { return std::min(kBins, static_cast<int>(std::ceil(hz / binHz))); };
    for (int k = 0; k < kBands; ++k) {
        const double centre = kLowestCentreHz * std::exp2(k / 3.0);
        bands.emplace_back(firstBinFrom(centre * std::exp2(-1.0 / 6.0)),
                           firstBinFrom(centre * std::exp2(1.0 / 6.0)));
    }
    return bands;
}

double correlation(const double* x, const double* y, int n, int stride) {
    double mx = 0, my = 0;
    for (int i = 0; i < n; ++i) {
        mx += x[i * stride];
        my += y[i * stride];
    }
    mx /= n;
    my /= n;
    double sxy = 0, sxx = 0, syy = 0;
    for (int i = 0; i < n; ++i) {
        const double dx = x[i * stride] - mx, dy = y[i * stride] - my;
        sxy += dx * dy;
        sxx += dx * dx;
        syy += dy * dy;
    }
    // A band that does not move at all follows nothing.
    return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0.0;
}

}  // namespace

double speechFollowing(std::span<const float> voice, std::span<const float> output, double sampleRate) {
    Framer framer(sampleRate);
    const auto bands = bandBins(sampleRate);
    const int frames = framer.frameCount(voice.size());
    if (frames == 0) return 0.0;

    // Band magnitudes per frame, [frame][band], and the voice frames' energies.
    std::vector<double> voiceMag(static_cast<std::size_t>(frames) * kBands), outMag(voiceMag.size(), 0.0);
    std::vector<double> energy(static_cast<std::size_t>(frames));
    std::vector<double> bins;
    auto bandMagnitudes = [&](double* into) {
        for (int k = 0; k < kBands; ++k) {
            double sum = 0.0;
            for (int b = bands[static_cast<std::size_t>(k)].first;
                 b < bands[static_cast<std::size_t>(k)].second; ++b)
                sum += bins[static_cast<std::size_t>(b)];
            into[k] = std::sqrt(sum);
        }
    };
    for (int f = 0; f < frames; ++f) {
        const std::size_t row = static_cast<std::size_t>(f) * kBands;
        energy[static_cast<std::size_t>(f)] = framer.power(voice, f, bins);
        bandMagnitudes(&voiceMag[row]);
        framer.power(output, f, bins);
        bandMagnitudes(&outMag[row]);
    }

    // Keep the frames where the voice speaks, in order, in both signals.
    const double loudest = *std::max_element(energy.begin(), energy.end());
    std::vector<double> keptVoice, keptOut;
    for (int f = 0; f < frames; ++f) {
        if (loudest <= 0.0 || energy[static_cast<std::size_t>(f)] < loudest * kDynamicRange) continue;
        const std::size_t row = static_cast<std::size_t>(f) * kBands;
        keptVoice.insert(keptVoice.end(), &voiceMag[row], &voiceMag[row] + kBands);
        keptOut.insert(keptOut.end(), &outMag[row], &outMag[row] + kBands);
    }
    const int kept = static_cast<int>(keptVoice.size() / kBands);
    if (kept < kRun) return 0.0;

    double sum = 0.0;
    for (int run = 0; run + kRun <= kept; ++run)
        for (int k = 0; k < kBands; ++k) {
            const std::size_t at = static_cast<std::size_t>(run) * kBands + static_cast<std::size_t>(k);
            sum += correlation(&keptVoice[at], &keptOut[at], kRun, kBands);
        }
    return sum / (static_cast<double>(kept - kRun + 1) * kBands);
}

std::vector<float> monoSum(std::span<const float> left, std::span<const float> right) {
    std::vector<float> mono(std::min(left.size(), right.size()));
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = 0.5f * (left[i] + right[i]);
    return mono;
}

double bandShareDb(std::span<const float> signal, double lowHz, double highHz, double sampleRate) {
    Framer framer(sampleRate);
    const double binHz = sampleRate / kFrame;
    double inside = 0.0, total = 0.0;
    std::vector<double> bins;
    for (int f = 0, n = framer.frameCount(signal.size()); f < n; ++f) {
        framer.power(signal, f, bins);
        for (std::size_t b = 0; b < kBins; ++b) {
            total += bins[b];
            const double hz = static_cast<double>(b) * binHz;
            if (hz >= lowHz && hz < highHz) inside += bins[b];
        }
    }
    return total > 0.0 ? 10.0 * std::log10(inside / total) : -std::numeric_limits<double>::infinity();
}

}  // namespace kf::measure
