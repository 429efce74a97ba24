#include "engine/wavetables.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <vector>

namespace kf {

namespace {

// Each non-sine wave starts as a continuous prototype over one cycle (t in [0, 1)), which is
// sampled on a grid 64 times finer than the table, smoothed there by a kernel that shapes its
// edges and corners, read back at the table's 1024 points, freed of its mean and scaled to its
// peak. Working on the fine grid keeps edge positions and widths independent of the table grid.
constexpr int32_t kFine = 64;
constexpr int32_t kFineSize = kWaveTableSize * kFine;
constexpr double kPi = std::numbers::pi;

// Smoothing weights on the fine grid for the offsets first .. first + size - 1 (sum 1). A weight
// at a positive offset reads the prototype ahead, so it makes an edge start early.
struct Kernel {
    int32_t first = 0;
    std::vector<double> weight;
};

Kernel impulseKernel() {
    return {0, {1.0}};
}

Kernel boxKernel(double widthEntries) {
    const auto n = std::max<int32_t>(1, static_cast<int32_t>(std::lround(widthEntries * kFine)));
    return {-n / 2, std::vector<double>(static_cast<std::size_t>(n), 1.0 / n)};
}

// Raised-cosine kernel whose two halves may differ: `lag` entries over earlier prototype points
// (an edge finishes this late), `lead` entries over later ones (an edge starts this early), the
// lead half holding `leadShare` of the smoothed weight, and `impulse` of the total passing
// unsmoothed (a part of each jump stays instantaneous).
Kernel raisedCosineKernel(double lag, double lead, double leadShare, double impulse) {
    const auto nLag = static_cast<int32_t>(std::lround(lag * kFine));
    const auto nLead = static_cast<int32_t>(std::lround(lead * kFine));
    Kernel k;
    k.first = -nLag;
    k.weight.assign(static_cast<std::size_t>(nLag + 1 + nLead), 0.0);
    auto half = [&k](int32_t n, int32_t sign, double share) {
        double sum = 0.0;
        for (int32_t j = 0; j < n; ++j) sum += 0.5 * (1.0 + std::cos(kPi * (j + 0.5) / n));
        for (int32_t j = 0; j < n; ++j) {
            const double w = 0.5 * (1.0 + std::cos(kPi * (j + 0.5) / n));
            k.weight[static_cast<std::size_t>(-k.first + sign * (j + 1))] += share * w / sum;
        }
    };
    k.weight[static_cast<std::size_t>(-k.first)] = impulse;
    half(nLag, -1, (1.0 - impulse) * (1.0 - leadShare));
    half(nLead, 1, (1.0 - impulse) * leadShare);
    return k;
}

Kernel hannKernel(double widthEntries) {
    return raisedCosineKernel(widthEntries / 2, widthEntries / 2, 0.5, 0.0);
}

template <typename Shape>
Wavetable design(Shape shape, const Kernel& kernel, double shiftEntries, double peak) {
    std::vector<double> fine(static_cast<std::size_t>(kFineSize));
    for (int32_t j = 0; j < kFineSize; ++j)
        fine[static_cast<std::size_t>(j)] = shape((j + 0.5) / static_cast<double>(kFineSize));

    const auto shift = static_cast<int32_t>(std::lround(shiftEntries * kFine));
    std::array<double, kWaveTableSize> v{};
    for (int32_t i = 0; i < kWaveTableSize; ++i) {
        double sum = 0.0;
        for (std::size_t m = 0; m < kernel.weight.size(); ++m) {
            int32_t j = (i * kFine + shift + kernel.first + static_cast<int32_t>(m)) % kFineSize;
            if (j < 0) j += kFineSize;
            sum += kernel.weight[m] * fine[static_cast<std::size_t>(j)];
        }
        v[static_cast<std::size_t>(i)] = sum;
    }

    double mean = 0.0;
    for (double x : v) mean += x;
    mean /= kWaveTableSize;
    double largest = 0.0;
    for (double& x : v) {
        x -= mean;
        largest = std::max(largest, std::fabs(x));
    }
    Wavetable table{};
    for (int32_t i = 0; i < kWaveTableSize; ++i)
        table.point[static_cast<std::size_t>(i)].value =
            static_cast<float>(v[static_cast<std::size_t>(i)] * peak / largest);
    return table;
}

void fillSlopes(Wavetable& table) {
    for (int32_t i = 0; i < kWaveTableSize; ++i) {
        WavePoint& p = table.point[static_cast<std::size_t>(i)];
        p.slope = table.point[static_cast<std::size_t>((i + 1) & kWaveTableMask)].value - p.value;
    }
}

Wavetable sine() {
    Wavetable table{};
    for (int32_t i = 0; i < kWaveTableSize; ++i)
        table.point[static_cast<std::size_t>(i)].value =
            static_cast<float>(std::sin(2.0 * kPi * i / kWaveTableSize));
    return table;
}

// Falling ramp from +1 to -0.8 with the jump back at the cycle start. It sags below the straight
// line by 0.6 t (1 - t), exactly enough to give it mean 0, so the jump of 1.8 sets every harmonic
// to about 1.8 / (pi h) = 0.573 / h while the peaks stay asymmetric (+1, -0.8). The jump is spread
// over 1.2 entries just before the table's start, leaving one transition point near -0.5 at the
// very end of the cycle.
Wavetable saw() {
    return design([](double t) { return 1.0 - 1.8 * t - 0.6 * t * (1.0 - t); }, boxKernel(1.224), 0.598, 1.0);
}

// Square whose flat parts droop toward zero, from full height after each edge to 0.665 of it
// just before the next, the way a capacitively coupled square sags. The second half mirrors the
// first, so only odd harmonics remain; the edges (1.665 high) give about 2 x 1.665 / (pi h) =
// 1.06 / h. A drooping top reads less harsh than a flat one and peaks less for the same
// fundamental.
constexpr double kSquareDroop = 0.665;

double droopingSquare(double t) {
    const double sign = t < 0.5 ? 1.0 : -1.0;
    const double u = t < 0.5 ? t : t - 0.5;
    return sign * (1.0 - (1.0 - kSquareDroop) * 2.0 * u);
}

Wavetable square() {
    return design(droopingSquare, impulseKernel(), 0.5, 0.998);
}

// The same square with each edge spread by a raised cosine 12 entries wide, centred a third of
// an entry before the table point: a gentler top end (about 2 % down at the 15th harmonic, 10 %
// at the 31st) with the same body.
Wavetable softSquare() {
    return design(droopingSquare, hannKernel(12.0), -0.3, 0.996);
}

// Triangle whose crest leans late (rise over 272 entries, fall over 240), mirrored in the second
// half so only odd harmonics remain, with its corners rounded by a 40-entry raised cosine. The
// lean and the rounding keep the first odd harmonics within a few percent of 0.75 / h^2 at a
// peak of 0.92, and take the buzz off the top harmonics.
Wavetable triangle() {
    constexpr double kCrest = 272.0 / kWaveTableSize;
    auto shape = [](double t) {
        const double sign = t < 0.5 ? 1.0 : -1.0;
        const double u = t < 0.5 ? t : t - 0.5;
        return sign * (u < kCrest ? u / kCrest : (0.5 - u) / (0.5 - kCrest));
    };
    return design(shape, hannKernel(40.0), 0.0, 0.92);
}

// Saw whose fall follows a half cosine pushed 20 % past the cosine, on a time axis bent by
// t^0.81 so it leaves the top sooner and lingers lower: a rounder body that lifts the fundamental
// to about 0.74 of the peak while the peaks stay asymmetric (+0.99, about -0.76). The jump back up
// is a quarter instantaneous; the rest starts about 80 entries before the cycle start and settles
// 16 entries after it.
Wavetable softSaw() {
    auto shape = [](double t) {
        const double u = std::pow(t, 0.81);
        return 1.2 * std::cos(kPi * u) - 0.2 * (1.0 - 2.0 * u);
    };
    return design(shape, raisedCosineKernel(16.0, 80.0, 0.4, 0.25), 0.0, 0.99);
}

// A wave's discrete Fourier series: for each harmonic 0..512, the weights of its cosine and sine
// that rebuild the wave, and the two tables every harmonic reads its turns from.
struct Series {
    std::vector<double> cosine, sine;  // cos and sin of 2 pi i / 1024
    std::vector<double> cosWeight, sinWeight;

    explicit Series(const Wavetable& full)
        : cosine(kWaveTableSize),
          sine(kWaveTableSize),
          cosWeight(kWaveTableSize / 2 + 1),
          sinWeight(kWaveTableSize / 2 + 1) {
        for (int32_t i = 0; i < kWaveTableSize; ++i) {
            cosine[static_cast<std::size_t>(i)] = std::cos(2.0 * kPi * i / kWaveTableSize);
            sine[static_cast<std::size_t>(i)] = std::sin(2.0 * kPi * i / kWaveTableSize);
        }
        for (int32_t h = 0; h <= kWaveTableSize / 2; ++h) {
            double re = 0.0, im = 0.0;
            for (int32_t i = 0; i < kWaveTableSize; ++i) {
                re += full.value(i) * turnCos(h, i);
                im += full.value(i) * turnSin(h, i);
            }
            const double scale =
                h == 0 || h == kWaveTableSize / 2 ? 1.0 / kWaveTableSize : 2.0 / kWaveTableSize;
            cosWeight[static_cast<std::size_t>(h)] = scale * re;
            sinWeight[static_cast<std::size_t>(h)] = scale * im;
        }
    }
    double turnCos(int32_t h, int32_t i) const {
        return cosine[static_cast<std::size_t>((h * i) & kWaveTableMask)];
    }
    double turnSin(int32_t h, int32_t i) const {
        return sine[static_cast<std::size_t>((h * i) & kWaveTableMask)];
    }

    // Adds harmonics first..last to the running sum v (the wave's points in double).
    void add(std::array<double, kWaveTableSize>& v, int32_t first, int32_t last) const {
        for (int32_t h = first; h <= last; ++h)
            for (int32_t i = 0; i < kWaveTableSize; ++i)
                v[static_cast<std::size_t>(i)] += cosWeight[static_cast<std::size_t>(h)] * turnCos(h, i) +
                                                  sinWeight[static_cast<std::size_t>(h)] * turnSin(h, i);
    }
};

Wavetable fromPoints(const std::array<double, kWaveTableSize>& v) {
    Wavetable table{};
    for (int32_t i = 0; i < kWaveTableSize; ++i)
        table.point[static_cast<std::size_t>(i)].value = static_cast<float>(v[static_cast<std::size_t>(i)]);
    fillSlopes(table);
    return table;
}

struct Levels {
    std::vector<Wavetable> tables;  // the six full waves, then the levels of the five others
    std::array<WaveLevels, kWaveCount> table{};
};

Levels buildAll() {
    Levels levels;
    const std::array<Wavetable, kWaveCount> full = {sine(),     saw(),        square(),
                                                    triangle(), softSquare(), softSaw()};
    levels.tables.reserve(kWaveCount * kWaveLevels);
    for (const Wavetable& wave : full) {
        levels.tables.push_back(wave);
        fillSlopes(levels.tables.back());
    }
    for (int32_t w = 0; w < kWaveCount; ++w) {
        auto& table = levels.table[static_cast<std::size_t>(w)];
        table[0] = &levels.tables[static_cast<std::size_t>(w)];
        // The sine has nothing to remove.
        if (w == static_cast<int32_t>(Wave::kSine)) {
            table.fill(table[0]);
            continue;
        }
        // From the fewest harmonics up, each level adding its own to the one above it.
        const Series series(*table[0]);
        std::array<double, kWaveTableSize> points{};
        int32_t kept = -1;
        for (int32_t level = kWaveLevels - 1; level >= 1; --level) {
            const int32_t harmonics = waveLevelHarmonics(level);
            series.add(points, kept + 1, harmonics);
            kept = harmonics;
            levels.tables.push_back(fromPoints(points));
            table[static_cast<std::size_t>(level)] = &levels.tables.back();
        }
    }
    return levels;
}

}  // namespace

const WaveLevels& waveLevels(Wave wave) {
    static const Levels levels = buildAll();
    return levels.table[static_cast<std::size_t>(wave)];
}

const Wavetable& wavetable(Wave wave, int32_t level) {
    return *waveLevels(wave)[static_cast<std::size_t>(std::clamp(level, 0, kWaveLevels - 1))];
}

int32_t waveLevelHarmonics(int32_t level) {
    return static_cast<int32_t>(std::floor(512.0 * std::exp2(-level / 3.0)));
}

int32_t waveLevelFor(float cyclesPerFrame) {
    // Level k keeps 512 x 2^(-k/3) harmonics, which stay below half the rate while
    // 2^(k/3) >= 1024 x cyclesPerFrame: k = ceil(3 log2 x). With x = m 2^e, 1 <= m < 2, that is
    // 3e plus one for each third of an octave m passes.
    const float x = cyclesPerFrame * static_cast<float>(kWaveTableSize);
    if (!(x > 1.0f)) return 0;
    if (x >= 512.0f) return kWaveLevels - 1;
    const auto bits = std::bit_cast<uint32_t>(x);
    const int32_t e = static_cast<int32_t>(bits >> 23) - 127;
    const float m = std::bit_cast<float>((bits & 0x007FFFFFu) | 0x3F800000u);
    return 3 * e + (m > 1.0f) + (m > 1.2599210f) + (m > 1.5874011f);
}

}  // namespace kf
