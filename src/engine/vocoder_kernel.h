// Working state of the vocoder bank and the per-width frame kernels that run over it. The
// kernels live in separate translation units compiled for their instruction sets and are
// chosen at run time; every width computes the same operations in the same order, so all
// give the same bits.
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

struct alignas(64) State {
    Coefficients coef{};
    FilterState synthesis{};
    FilterState analysisLeft{};
    FilterState analysisRight{};
    FollowerState left{};
    FollowerState right{};
};

// n frames (n >= 0) starting with anti-denormal offset `offset`, negated after each frame.
using FrameKernel = void (*)(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                             float* outL, float* outR, int32_t n);

// Control-block gain steps of both followers.
using StepKernel = void (*)(State& s, float rampFactor);
void stepsSse2(State& s, float rampFactor);
void stepsAvx2(State& s, float rampFactor);
void stepsAvx512(State& s, float rampFactor);

void processSse2(State& s, const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
                 float* outR, int32_t n);
void processAvx2(State& s, const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
                 float* outR, int32_t n);
void processAvx512(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                   float* outL, float* outR, int32_t n);

}  // namespace kf::vocoder
