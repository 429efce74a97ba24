// Vocoder frame kernel, 4 bands per vector. Built with this unit's own target flags.
#include "engine/vocoder_kernel_impl.h"

namespace kf::vocoder {

void processSse2(State& s, const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
                 float* outR, int32_t n, bool mono) {
    runClassic<4>(s, syn, anaL, anaR, offset, outL, outR, n, mono);
}

void articulateSse2(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                    float* outL, float* outR, int32_t n, bool mono) {
    runArticulate<4>(s, syn, anaL, anaR, offset, outL, outR, n, mono);
}

void stepsSse2(State& s, float rampFactor) {
    gainSteps<4>(s, rampFactor);
}

}  // namespace kf::vocoder
