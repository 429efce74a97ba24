#include "engine/eq_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>

namespace kf {
namespace {

using Complex = std::complex<double>;
constexpr double kReferenceRate = 44100.0;
constexpr int kPoints = 200;
constexpr int kIterations = 10;
constexpr std::size_t kMaxOrder = 3;
constexpr std::size_t kMaxUnknowns = kMaxOrder + 2 * (kMaxOrder + 1);
// Everything on the stack: the fit runs inside the engine's set-up, which must not allocate
// once a new rate is taken over.
using Matrix = std::array<std::array<double, kMaxUnknowns>, kMaxUnknowns>;
using Vector = std::array<double, kMaxUnknowns>;

// The split's middle and low band at 44.1 kHz (damping 2): with u = 1 / (1 - z^-1) the high
// band is 1 / (1 + 2 F z^-1 u + F^2 z^-1 u^2), the middle 2 F z^-1 u times it, the low
// F^2 z^-1 u^2 times it.
std::array<Complex, 2> referenceBands(double split, double hz) {
    const Complex z1 = std::polar(1.0, -2.0 * std::numbers::pi * hz / kReferenceRate);
    const Complex u = 1.0 / (1.0 - z1);
    const Complex high = 1.0 / (1.0 + 2.0 * split * z1 * u + split * split * z1 * u * u);
    return {2.0 * split * z1 * u * high, split * split * z1 * u * u * high};
}

// Solves the first n x n of the system in place by elimination with partial pivoting; false
// when singular.
bool solve(Matrix& m, Vector& x, std::size_t n) {
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r)
            if (std::fabs(m[r][c]) > std::fabs(m[pivot][c])) pivot = r;
        if (!(std::fabs(m[pivot][c]) > 0.0)) return false;
        std::swap(m[c], m[pivot]);
        std::swap(x[c], x[pivot]);
        for (std::size_t r = 0; r < n; ++r) {
            if (r == c) continue;
            const double f = m[r][c] / m[c][c];
            for (std::size_t k = c; k < n; ++k) m[r][k] -= f * m[c][k];
            x[r] -= f * x[c];
        }
    }
    for (std::size_t c = 0; c < n; ++c) x[c] /= m[c][c];
    return true;
}

// All roots of 1 + a1 z^-1 + ... inside the unit circle (the step-down recursion: every
// reflection coefficient below 1 in size).
bool stable(std::array<double, kMaxOrder> a, std::size_t n) {
    for (; n > 0; --n) {
        const double k = a[n - 1];
        if (!(std::fabs(k) < 1.0)) return false;
        std::array<double, kMaxOrder> lower{};
        for (std::size_t i = 0; i + 1 < n; ++i) lower[i] = (a[i] - k * a[n - 2 - i]) / (1.0 - k * k);
        a = lower;
    }
    return true;
}

// Steiglitz-McBride iterations: the equation error N - T D, weighted by the last denominator
// and by the target's size (so quiet parts of a band count as much as loud ones), for a shared
// denominator of `order` and numerators of the same order.
bool fit(double rate, double split, int order, EqBandModel& model) {
    const double top = std::min(16000.0, 0.3628 * rate);
    std::array<double, kPoints> hz{};
    std::array<std::array<Complex, 2>, kPoints> target{};
    for (int i = 0; i < kPoints; ++i) {
        hz[static_cast<std::size_t>(i)] = 20.0 * std::pow(top / 20.0, i / (kPoints - 1.0));
        target[static_cast<std::size_t>(i)] = referenceBands(split, hz[static_cast<std::size_t>(i)]);
    }
    const auto n = static_cast<std::size_t>(order);
    const std::size_t unknowns = n + 2 * (n + 1);
    std::array<Complex, kPoints> lastDenominator;
    lastDenominator.fill(1.0);
    Vector x{};
    for (int iteration = 0; iteration < kIterations; ++iteration) {
        Matrix normal{};
        Vector right{};
        std::array<Complex, kMaxUnknowns> row{};
        for (std::size_t i = 0; i < hz.size(); ++i) {
            const Complex z1 = std::polar(1.0, -2.0 * std::numbers::pi * hz[i] / rate);
            for (std::size_t band = 0; band < 2; ++band) {
                const Complex t = target[i][band];
                const double weight = 1.0 / (std::abs(lastDenominator[i]) * (std::abs(t) + 0.05));
                std::fill(row.begin(), row.end(), Complex{});
                Complex zk = 1.0;
                for (std::size_t k = 0; k <= n; ++k, zk *= z1) {
                    if (k > 0) row[k - 1] = -t * zk * weight;
                    row[n + band * (n + 1) + k] = zk * weight;
                }
                const Complex rhs = t * weight;
                for (std::size_t p = 0; p < unknowns; ++p) {
                    right[p] += row[p].real() * rhs.real() + row[p].imag() * rhs.imag();
                    for (std::size_t q = 0; q < unknowns; ++q)
                        normal[p][q] += row[p].real() * row[q].real() + row[p].imag() * row[q].imag();
                }
            }
        }
        x = right;
        if (!solve(normal, x, unknowns)) return false;
        for (std::size_t i = 0; i < hz.size(); ++i) {
            const Complex z1 = std::polar(1.0, -2.0 * std::numbers::pi * hz[i] / rate);
            Complex d = 1.0, zk = 1.0;
            for (std::size_t k = 1; k <= n; ++k) d += x[k - 1] * (zk *= z1);
            lastDenominator[i] = d;
        }
    }
    std::array<double, kMaxOrder> a{};
    std::copy_n(x.begin(), n, a.begin());
    for (double v : x)
        if (!std::isfinite(v)) return false;
    if (!stable(a, n)) return false;
    model = EqBandModel{};
    for (std::size_t k = 0; k < n; ++k) model.a[k] = a[k];
    for (std::size_t k = 0; k <= n; ++k) {
        model.mid[k] = x[n + k];
        model.low[k] = x[2 * n + 1 + k];
    }
    return true;
}

}  // namespace

bool fitEqBands(double sampleRate, double split, EqBandModel& model) {
    // Three poles follow the reference closely at every rate above it; below it the third one
    // comes out unstable, and two do what they can.
    return fit(sampleRate, split, 3, model) || fit(sampleRate, split, 2, model);
}

}  // namespace kf
