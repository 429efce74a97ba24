// Working state of the vocoder bank and the per-width frame kernels that run over it. The
// kernels live in separate translation units compiled for their instruction sets and are
// chosen at run time; every width computes the same operations in the same order, so all
// give the same bits. There are two banks: the classic one (peak followers, broad bands on a
// cubic layout) and the articulate one (narrow log-spaced bands, short smoothed followers
// and a consonant path), which share the filter and envelope states.
#pragma once

#include <cstdint>

namespace kf::vocoder {

constexpr int kBands = 32;
constexpr float kOutputScale = 0.0625f;
constexpr float kSnap = 1e-7f;  // ramp steps smaller than this snap to the target

enum class Isa : int32_t { Sse2 = 0, Avx2 = 1, Avx512 = 2 };

// Two cascaded state-variable stages per band.
struct alignas(64) FilterState {
    float bp1[kBands];
    float lp1[kBands];
    float bp2[kBands];
    float lp2[kBands];
};

// Peak follower and ramped band gain of one analysis bank.
struct alignas(64) FollowerState {
    float env[kBands];    // held peak, decaying linearly
    float decay[kBands];  // subtracted from env every frame
    float gain[kBands];   // applied band gain
    float step[kBands];   // per-frame gain increment in this control block
};

struct alignas(64) Coefficients {
    float fa[kBands];       // analysis frequency coefficient
    float fs[kBands];       // synthesis frequency coefficient
    float q1[kBands];       // stage 1 damping
    float q2[kBands];       // stage 2 damping
    float release[kBands];  // follower release factor (same in every band)
};

// The articulate bank's tables. Its two stages share one damping and are not normalised;
// each band's gain (1/q per stage) and its share of the spectrum are undone by `take`, so
// the follower holds the band's level, ready to weight the synthesis band.
struct alignas(64) ArticulateCoefficients {
    float fa[kBands];    // analysis frequency coefficient
    float fs[kBands];    // synthesis frequency coefficient
    float q[kBands];     // damping of both stages
    float keep[kBands];  // follower: env = keep·env + take·|band|
    float take[kBands];
    float emphasis;      // carrier pre-emphasis: x - emphasis·x[n-1]
    float highF, highQ;  // the consonant high band: two high-pass stages
    float highGain;      // its level in the outputs
    float noiseGain;     // the gated noise's level with the gate fully open
};

// The consonant path's history and the noise gate, ramped at control rate.
struct alignas(64) ConsonantState {
    float high[2][4];  // per side: stage 1 bp, lp, stage 2 bp, lp
    float carrierPrev;
    float carrierEnergy;  // of the pre-emphasised carrier, summed since the last control block
    uint32_t seed;        // of the noise: a 32-bit linear congruential sequence, read as signed
    float gate;           // the noise's level, per unit of the signed 32-bit noise
    float gateStep;
};

struct alignas(64) State {
    Coefficients coef{};
    ArticulateCoefficients articulate{};
    FilterState synthesis{};
    FilterState analysisLeft{};
    FilterState analysisRight{};
    FollowerState left{};
    FollowerState right{};
    ConsonantState consonant{};
};

// n frames (n >= 0) starting with anti-denormal offset `offset`, negated after each frame.
// With `mono` the two analysis inputs are one buffer: the left bank is run alone, both
// outputs get its sum and the right bank's state becomes a copy of the left's. The caller
// sets it only while the two banks hold the same state, so the results are the bits that
// running both would give.
using FrameKernel = void (*)(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                             float* outL, float* outR, int32_t n, bool mono);

// Control-block gain steps of both classic followers.
using StepKernel = void (*)(State& s, float rampFactor);
void stepsSse2(State& s, float rampFactor);
void stepsAvx2(State& s, float rampFactor);
void stepsAvx512(State& s, float rampFactor);

void processSse2(State& s, const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
                 float* outR, int32_t n, bool mono);
void processAvx2(State& s, const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
                 float* outR, int32_t n, bool mono);
void processAvx512(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                   float* outL, float* outR, int32_t n, bool mono);

void articulateSse2(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                    float* outL, float* outR, int32_t n, bool mono);
void articulateAvx2(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                    float* outL, float* outR, int32_t n, bool mono);
void articulateAvx512(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                      float* outL, float* outR, int32_t n, bool mono);

}  // namespace kf::vocoder
