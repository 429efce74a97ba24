// The vocoder frame kernel, written once over a W-float vector type and compiled once per
// instruction set by the vocoder_kernel_*.cpp units (each with its own target flags). It lives
// in an anonymous namespace so that no code built for a wider instruction set can be shared
// with, and run by, another unit; it includes no library header for the same reason.
//
// Every width performs the same IEEE operations in the same order on each band, and the band
// sums use one fixed pairwise tree (32 -> 16 -> 8 -> 4 -> 1 by halves), which each width can
// follow exactly, so all widths produce identical bits.
#pragma once

#include "engine/vocoder_kernel.h"

namespace kf::vocoder {
namespace {

template <int W>
struct VecOf {
    typedef float type __attribute__((vector_size(W * 4), may_alias));
};
template <int W>
using Vec = typename VecOf<W>::type;

constexpr int32_t kMaxChunk = 32;  // frames per pass; a control block at most

// Every lane x, written as one initialiser of equal elements, which the compiler turns into
// a single broadcast at every optimisation level. Filling the lanes in a loop instead lets
// -O3 unroll it into one masked insert per lane (16 per splat at 16 lanes): the widest
// kernel then ran slower than the narrower ones.
template <int W>
inline Vec<W> splat(float x) {
    static_assert(W == 4 || W == 8 || W == 16);
    if constexpr (W == 4) {
        return Vec<4>{x, x, x, x};
    } else if constexpr (W == 8) {
        return Vec<8>{x, x, x, x, x, x, x, x};
    } else {
        return Vec<16>{x, x, x, x, x, x, x, x, x, x, x, x, x, x, x, x};
    }
}

template <int W>
inline Vec<W>& at(float* p, int group) {
    return reinterpret_cast<Vec<W>*>(__builtin_assume_aligned(p, 64))[group];
}
template <int W>
inline const Vec<W>& at(const float* p, int group) {
    return reinterpret_cast<const Vec<W>*>(__builtin_assume_aligned(p, 64))[group];
}

// Upper half added onto lower half: lane i of the result is v[i] + v[i + W/2].
template <int W>
inline Vec<W / 2> foldHalves(Vec<W> v) {
    Vec<W / 2> lo, hi;
    __builtin_memcpy(&lo, &v, sizeof lo);
    __builtin_memcpy(&hi, reinterpret_cast<const char*>(&v) + sizeof lo, sizeof hi);
    return lo + hi;
}

template <int W>
inline float sumTree(Vec<W>* p) {
    constexpr int kGroups = kBands / W;
#pragma GCC unroll 16
    for (int half = kGroups / 2; half >= 1; half /= 2) {
#pragma GCC unroll 16
        for (int j = 0; j < half; ++j) p[j] = p[j] + p[j + half];
    }
    if constexpr (W == 4) {
        Vec<4> s = p[0];
        return (s[0] + s[2]) + (s[1] + s[3]);
    } else if constexpr (W == 8) {
        Vec<4> s = foldHalves<8>(p[0]);
        return (s[0] + s[2]) + (s[1] + s[3]);
    } else {
        Vec<4> s = foldHalves<8>(foldHalves<16>(p[0]));
        return (s[0] + s[2]) + (s[1] + s[3]);
    }
}

// One Chamberlin stage on one group of bands: hp = x - q·bp - lp, bp += f·hp, lp += f·bp.
template <int W>
inline Vec<W> svfStage(Vec<W> x, Vec<W> f, Vec<W> q, Vec<W>& bp, Vec<W>& lp) {
    Vec<W> hp = (x - q * bp) - lp;
    bp = bp + f * hp;
    lp = lp + f * bp;
    return bp;
}

// The frames are processed group by group (W bands at a time through all frames), so that a
// group's states stay in registers for the whole run; each band still sees exactly the
// per-frame operations in order. The band products are kept per frame and summed at the end.
template <int W>
void runChunk(State& s, const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
              float* outR, int32_t n) {
    constexpr int kGroups = kBands / W;
    alignas(64) float off[kMaxChunk];
    alignas(64) float xs[kMaxChunk], xl[kMaxChunk], xr[kMaxChunk];
    alignas(64) float synOut[kMaxChunk][kBands];
    alignas(64) float prod[2][kMaxChunk][kBands];
    for (int32_t t = 0; t < n; ++t) {
        off[t] = offset;
        xs[t] = syn[t] + offset;
        xl[t] = anaL[t] + offset;
        xr[t] = anaR[t] + offset;
        offset = -offset;
    }

    const Coefficients& c = s.coef;
    for (int g = 0; g < kGroups; ++g) {
        FilterState& fs = s.synthesis;
        const Vec<W> f = at<W>(c.fs, g), q1 = at<W>(c.q1, g), q2 = at<W>(c.q2, g);
        Vec<W> bp1 = at<W>(fs.bp1, g), lp1 = at<W>(fs.lp1, g), bp2 = at<W>(fs.bp2, g), lp2 = at<W>(fs.lp2, g);
#pragma GCC unroll 2
        for (int32_t t = 0; t < n; ++t) {
            const Vec<W> o = splat<W>(off[t]);
            const Vec<W> y1 = svfStage<W>(splat<W>(xs[t]), f, q1, bp1, lp1);
            at<W>(synOut[t], g) = svfStage<W>(y1 + o, f, q2, bp2, lp2);
        }
        at<W>(fs.bp1, g) = bp1, at<W>(fs.lp1, g) = lp1, at<W>(fs.bp2, g) = bp2, at<W>(fs.lp2, g) = lp2;
    }

    for (int side = 0; side < 2; ++side) {
        FilterState& fs = side == 0 ? s.analysisLeft : s.analysisRight;
        FollowerState& fo = side == 0 ? s.left : s.right;
        const float* x = side == 0 ? xl : xr;
        const Vec<W> zero = splat<W>(0.0f);
        for (int g = 0; g < kGroups; ++g) {
            const Vec<W> f = at<W>(c.fa, g), q1 = at<W>(c.q1, g), q2 = at<W>(c.q2, g);
            const Vec<W> release = at<W>(c.release, g), step = at<W>(fo.step, g);
            Vec<W> bp1 = at<W>(fs.bp1, g), lp1 = at<W>(fs.lp1, g), bp2 = at<W>(fs.bp2, g),
                   lp2 = at<W>(fs.lp2, g);
            Vec<W> env = at<W>(fo.env, g), decay = at<W>(fo.decay, g), gain = at<W>(fo.gain, g);
#pragma GCC unroll 2
            for (int32_t t = 0; t < n; ++t) {
                const Vec<W> o = splat<W>(off[t]);
                const Vec<W> y1 = svfStage<W>(splat<W>(x[t]), f, q1, bp1, lp1);
                const Vec<W> b = svfStage<W>(y1 + o, f, q2, bp2, lp2);
                // Follower: linear fall, reset by a higher (signed) band peak, floored at 0.
                Vec<W> e = env - decay;
                const auto rising = b > e;
                decay = rising ? b * release : decay;
                e = rising ? b : e;
                env = e > zero ? e : zero;
                gain = gain + step;
                at<W>(prod[side][t], g) = at<W>(synOut[t], g) * gain;
            }
            at<W>(fs.bp1, g) = bp1, at<W>(fs.lp1, g) = lp1, at<W>(fs.bp2, g) = bp2, at<W>(fs.lp2, g) = lp2;
            at<W>(fo.env, g) = env, at<W>(fo.decay, g) = decay, at<W>(fo.gain, g) = gain;
        }
    }

    for (int32_t t = 0; t < n; ++t) {
        outL[t] = sumTree<W>(&at<W>(prod[0][t], 0)) * kOutputScale;
        outR[t] = sumTree<W>(&at<W>(prod[1][t], 0)) * kOutputScale;
    }
}

// Control block: each band's gain ramps to its envelope over the next 32 frames; a step too
// small to matter snaps the gain to the envelope at once. Right bank first, then left.
template <int W>
void followerSteps(FollowerState& f, float rampFactor) {
    const Vec<W> r = splat<W>(rampFactor), lo = splat<W>(-kSnap), hi = splat<W>(kSnap), zero = splat<W>(0.0f);
    for (int g = 0; g < kBands / W; ++g) {
        const Vec<W> e = at<W>(f.env, g), gain = at<W>(f.gain, g);
        const Vec<W> step = (e - gain) * r;
        const auto snap = (step > lo) & (step < hi);
        at<W>(f.gain, g) = snap ? e : gain;
        at<W>(f.step, g) = snap ? zero : step;
    }
}

template <int W>
void gainSteps(State& s, float rampFactor) {
    followerSteps<W>(s.right, rampFactor);
    followerSteps<W>(s.left, rampFactor);
}

template <int W>
void runFrames(State& s, const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
               float* outR, int32_t n) {
    for (int32_t done = 0; done < n; done += kMaxChunk) {
        const int32_t m = n - done < kMaxChunk ? n - done : kMaxChunk;
        runChunk<W>(s, syn + done, anaL + done, anaR + done, offset, outL + done, outR + done, m);
        if (m & 1) offset = -offset;
    }
}

}  // namespace
}  // namespace kf::vocoder
