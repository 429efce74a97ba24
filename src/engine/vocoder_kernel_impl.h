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

// The right bank takes over the left one's state after a pass that ran the left alone (the
// articulate bank's follower has an envelope only, and a high band of its own).
inline void mirrorRight(State& s) {
    s.analysisRight = s.analysisLeft;
    s.right = s.left;
}
template <int W>
inline void mirrorRightArticulate(State& s) {
    s.analysisRight = s.analysisLeft;
    for (int g = 0; g < kBands / W; ++g) at<W>(s.right.env, g) = at<W>(s.left.env, g);
    for (int i = 0; i < 4; ++i) s.consonant.high[1][i] = s.consonant.high[0][i];
}

// One group of the classic bank through all frames: the synthesis bands, the `Sides`
// analysis bands with their followers and ramped gains, and their products. Each band still
// sees exactly the per-frame operations in order; running the synthesis and the analysis
// bands side by side gives the processor independent recursions to overlap, where one group
// at a time through all frames left it waiting on each band's serial chain.
template <int W, int Sides>
inline void classicGroup(State& s, int g, const float* xs, const float (*xa)[kMaxChunk], const float* off,
                         float (*prod)[kMaxChunk][kBands], int32_t n) {
    const Coefficients& c = s.coef;
    FilterState& sy = s.synthesis;
    FilterState* an[2] = {&s.analysisLeft, &s.analysisRight};
    FollowerState* fo[2] = {&s.left, &s.right};
    const Vec<W> fs = at<W>(c.fs, g), fa = at<W>(c.fa, g), q1 = at<W>(c.q1, g), q2 = at<W>(c.q2, g);
    const Vec<W> release = at<W>(c.release, g), zero = splat<W>(0.0f);
    Vec<W> sbp1 = at<W>(sy.bp1, g), slp1 = at<W>(sy.lp1, g), sbp2 = at<W>(sy.bp2, g), slp2 = at<W>(sy.lp2, g);
    Vec<W> bp1[Sides], lp1[Sides], bp2[Sides], lp2[Sides], env[Sides], decay[Sides], gain[Sides], step[Sides];
    for (int i = 0; i < Sides; ++i) {
        bp1[i] = at<W>(an[i]->bp1, g), lp1[i] = at<W>(an[i]->lp1, g), bp2[i] = at<W>(an[i]->bp2, g);
        lp2[i] = at<W>(an[i]->lp2, g), env[i] = at<W>(fo[i]->env, g), decay[i] = at<W>(fo[i]->decay, g);
        gain[i] = at<W>(fo[i]->gain, g), step[i] = at<W>(fo[i]->step, g);
    }
#pragma GCC unroll 2
    for (int32_t t = 0; t < n; ++t) {
        const Vec<W> o = splat<W>(off[t]);
        const Vec<W> y =
            svfStage<W>(svfStage<W>(splat<W>(xs[t]), fs, q1, sbp1, slp1) + o, fs, q2, sbp2, slp2);
        for (int i = 0; i < Sides; ++i) {
            const Vec<W> b = svfStage<W>(svfStage<W>(splat<W>(xa[i][t]), fa, q1, bp1[i], lp1[i]) + o, fa, q2,
                                         bp2[i], lp2[i]);
            // Follower: linear fall, reset by a higher (signed) band peak, floored at 0.
            Vec<W> e = env[i] - decay[i];
            const auto rising = b > e;
            decay[i] = rising ? b * release : decay[i];
            e = rising ? b : e;
            env[i] = e > zero ? e : zero;
            gain[i] = gain[i] + step[i];
            at<W>(prod[i][t], g) = y * gain[i];
        }
    }
    at<W>(sy.bp1, g) = sbp1, at<W>(sy.lp1, g) = slp1, at<W>(sy.bp2, g) = sbp2, at<W>(sy.lp2, g) = slp2;
    for (int i = 0; i < Sides; ++i) {
        at<W>(an[i]->bp1, g) = bp1[i], at<W>(an[i]->lp1, g) = lp1[i], at<W>(an[i]->bp2, g) = bp2[i];
        at<W>(an[i]->lp2, g) = lp2[i], at<W>(fo[i]->env, g) = env[i], at<W>(fo[i]->decay, g) = decay[i];
        at<W>(fo[i]->gain, g) = gain[i];
    }
}

// The classic bank over up to 32 frames, group by group; the band products are kept per
// frame and summed at the end.
template <int W>
void runChunk(State& s, const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
              float* outR, int32_t n, bool mono) {
    alignas(64) float off[kMaxChunk];
    alignas(64) float xs[kMaxChunk], xa[2][kMaxChunk];
    alignas(64) float prod[2][kMaxChunk][kBands];
    for (int32_t t = 0; t < n; ++t) {
        off[t] = offset;
        xs[t] = syn[t] + offset;
        xa[0][t] = anaL[t] + offset;
        xa[1][t] = anaR[t] + offset;
        offset = -offset;
    }
    for (int g = 0; g < kBands / W; ++g) {
        if (mono)
            classicGroup<W, 1>(s, g, xs, xa, off, prod, n);
        else
            classicGroup<W, 2>(s, g, xs, xa, off, prod, n);
    }
    for (int32_t t = 0; t < n; ++t) {
        outL[t] = sumTree<W>(&at<W>(prod[0][t], 0)) * kOutputScale;
        outR[t] = mono ? outL[t] : sumTree<W>(&at<W>(prod[1][t], 0)) * kOutputScale;
    }
    if (mono) mirrorRight(s);
}

// |v|: the sign bit cleared.
template <int W>
inline Vec<W> magnitude(Vec<W> v) {
    typedef int32_t Bits __attribute__((vector_size(W * 4), may_alias));
    return reinterpret_cast<Vec<W>>(reinterpret_cast<Bits>(v) & 0x7FFFFFFF);
}

// One high-pass stage of the consonant high band (hp = x - q·bp - lp, bp += f·hp, lp += f·bp);
// the band is two of them, the second fed by the first's high-pass output.
struct HighPass {
    float f, q, bp, lp;
    HighPass(const ArticulateCoefficients& c, const float* h) : f(c.highF), q(c.highQ), bp(h[0]), lp(h[1]) {}
    float operator()(float x) {
        const float hp = (x - q * bp) - lp;
        bp = bp + f * hp;
        lp = lp + f * bp;
        return hp;
    }
    void store(float* h) const { h[0] = bp, h[1] = lp; }
};

// One group of the articulate bank through all frames: the synthesis bands, the `Sides`
// analysis bands with their followers, and their products. The bank's recursions are
// serial from frame to frame, so running the synthesis and the analysis bands side by side
// gives the processor independent chains to overlap; for the same reason the first two
// groups each carry one stage of the consonant high band's scalar recursion (`Stage` 1 or
// 2, in place in `hp`; 0: none).
template <int W, int Sides, int Stage>
inline void articulateGroup(State& s, int g, const float* xs, const float (*xa)[kMaxChunk],
                            float (*prod)[kMaxChunk][kBands], float (*hp)[kMaxChunk], int32_t n) {
    const ArticulateCoefficients& c = s.articulate;
    FilterState& sy = s.synthesis;
    FilterState* an[2] = {&s.analysisLeft, &s.analysisRight};
    FollowerState* fo[2] = {&s.left, &s.right};
    const Vec<W> fs = at<W>(c.fs, g), fa = at<W>(c.fa, g), q = at<W>(c.q, g), keep = at<W>(c.keep, g),
                 take = at<W>(c.take, g);
    Vec<W> sbp1 = at<W>(sy.bp1, g), slp1 = at<W>(sy.lp1, g), sbp2 = at<W>(sy.bp2, g), slp2 = at<W>(sy.lp2, g);
    Vec<W> bp1[Sides], lp1[Sides], bp2[Sides], lp2[Sides], env[Sides];
    for (int i = 0; i < Sides; ++i) {
        bp1[i] = at<W>(an[i]->bp1, g), lp1[i] = at<W>(an[i]->lp1, g), bp2[i] = at<W>(an[i]->bp2, g);
        lp2[i] = at<W>(an[i]->lp2, g), env[i] = at<W>(fo[i]->env, g);
    }
    constexpr int kState = Stage == 2 ? 2 : 0;  // where the stage keeps its bp and lp
    HighPass high[2] = {HighPass(c, s.consonant.high[0] + kState), HighPass(c, s.consonant.high[1] + kState)};
#pragma GCC unroll 2
    for (int32_t t = 0; t < n; ++t) {
        const Vec<W> y = svfStage<W>(svfStage<W>(splat<W>(xs[t]), fs, q, sbp1, slp1), fs, q, sbp2, slp2);
        for (int i = 0; i < Sides; ++i) {
            const Vec<W> b =
                svfStage<W>(svfStage<W>(splat<W>(xa[i][t]), fa, q, bp1[i], lp1[i]), fa, q, bp2[i], lp2[i]);
            env[i] = keep * env[i] + take * magnitude<W>(b);
            at<W>(prod[i][t], g) = y * env[i];
            if constexpr (Stage == 1) hp[i][t] = high[i](xa[i][t]);
            if constexpr (Stage == 2) hp[i][t] = high[i](hp[i][t]);
        }
    }
    at<W>(sy.bp1, g) = sbp1, at<W>(sy.lp1, g) = slp1, at<W>(sy.bp2, g) = sbp2, at<W>(sy.lp2, g) = slp2;
    for (int i = 0; i < Sides; ++i) {
        at<W>(an[i]->bp1, g) = bp1[i], at<W>(an[i]->lp1, g) = lp1[i], at<W>(an[i]->bp2, g) = bp2[i];
        at<W>(an[i]->lp2, g) = lp2[i], at<W>(fo[i]->env, g) = env[i];
        if constexpr (Stage != 0) high[i].store(s.consonant.high[i] + kState);
    }
}

template <int W, int Sides>
inline void articulateGroups(State& s, const float* xs, const float (*xa)[kMaxChunk],
                             float (*prod)[kMaxChunk][kBands], float (*hp)[kMaxChunk], bool high, int32_t n) {
    static_assert(kBands / W >= 2, "the high band's two stages ride on the first two groups");
    if (high) {
        articulateGroup<W, Sides, 1>(s, 0, xs, xa, prod, hp, n);
        articulateGroup<W, Sides, 2>(s, 1, xs, xa, prod, hp, n);
    } else {
        articulateGroup<W, Sides, 0>(s, 0, xs, xa, prod, hp, n);
        articulateGroup<W, Sides, 0>(s, 1, xs, xa, prod, hp, n);
    }
    for (int g = 2; g < kBands / W; ++g) articulateGroup<W, Sides, 0>(s, g, xs, xa, prod, hp, n);
}

// The articulate bank over up to 32 frames. Both stages of a band share its damping and
// carry their gain (1/q each); the follower smooths the rectified band (env = keep·env +
// take·|b|, take undoing that gain), and its envelope weights the synthesis band directly,
// frame by frame, without a control-rate ramp. The anti-denormal offset enters once, with the
// inputs: the engine runs the bank with denormals flushed to zero, so the offset keeps the
// states alive, not fast.
template <int W>
void runArticulateChunk(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                        float* outL, float* outR, int32_t n, bool mono) {
    const ArticulateCoefficients& c = s.articulate;
    ConsonantState& cs = s.consonant;
    alignas(64) float xs[kMaxChunk], xa[2][kMaxChunk], hp[2][kMaxChunk];
    alignas(64) float prod[2][kMaxChunk][kBands];

    // The carrier pre-emphasised, so that a bright carrier's bands reach the top of the bank
    // at comparable levels, plus white noise at the level the consonant gate sets: like the
    // pre-emphasised carrier it is flat, so the bands give it the voice's hiss spectrum.
    // While the gate stays shut no noise is drawn.
    float previous = cs.carrierPrev, energy = cs.carrierEnergy, gate = cs.gate, o = offset;
    if (gate == 0.0f && cs.gateStep == 0.0f) {
        for (int32_t t = 0; t < n; ++t, o = -o) {
            const float carrier = syn[t] - c.emphasis * previous;
            energy = energy + carrier * carrier;
            xs[t] = carrier + o;
            previous = syn[t];
            xa[0][t] = anaL[t] + o;
        }
    } else {
        uint32_t seed = cs.seed;
        for (int32_t t = 0; t < n; ++t, o = -o) {
            const float carrier = syn[t] - c.emphasis * previous;
            energy = energy + carrier * carrier;
            seed = seed * 1664525u + 1013904223u;
            gate = gate + cs.gateStep;
            xs[t] = (carrier + static_cast<float>(static_cast<int32_t>(seed)) * gate) + o;
            previous = syn[t];
            xa[0][t] = anaL[t] + o;
        }
        cs.seed = seed, cs.gate = gate;
    }
    cs.carrierPrev = previous, cs.carrierEnergy = energy;
    if (!mono)
        for (int32_t t = 0; t < n; ++t, offset = -offset) xa[1][t] = anaR[t] + offset;

    // The band sums, and the voice's own band above the bank for the consonants it carries.
    const bool high = c.highGain != 0.0f;
    if (mono) {
        articulateGroups<W, 1>(s, xs, xa, prod, hp, high, n);
        for (int32_t t = 0; t < n; ++t) {
            const float sum = sumTree<W>(&at<W>(prod[0][t], 0));
            outL[t] = outR[t] = high ? sum + c.highGain * hp[0][t] : sum;
        }
        mirrorRightArticulate<W>(s);
        return;
    }
    articulateGroups<W, 2>(s, xs, xa, prod, hp, high, n);
    for (int32_t t = 0; t < n; ++t) {
        const float l = sumTree<W>(&at<W>(prod[0][t], 0)), r = sumTree<W>(&at<W>(prod[1][t], 0));
        outL[t] = high ? l + c.highGain * hp[0][t] : l;
        outR[t] = high ? r + c.highGain * hp[1][t] : r;
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

template <int W, auto Chunk>
void runFrames(State& s, const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
               float* outR, int32_t n, bool mono) {
    for (int32_t done = 0; done < n; done += kMaxChunk) {
        const int32_t m = n - done < kMaxChunk ? n - done : kMaxChunk;
        Chunk(s, syn + done, anaL + done, anaR + done, offset, outL + done, outR + done, m, mono);
        if (m & 1) offset = -offset;
    }
}

template <int W>
void runClassic(State& s, const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
                float* outR, int32_t n, bool mono) {
    runFrames<W, runChunk<W>>(s, syn, anaL, anaR, offset, outL, outR, n, mono);
}

template <int W>
void runArticulate(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                   float* outL, float* outR, int32_t n, bool mono) {
    runFrames<W, runArticulateChunk<W>>(s, syn, anaL, anaR, offset, outL, outR, n, mono);
}

}  // namespace
}  // namespace kf::vocoder
