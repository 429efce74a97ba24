// Vocoder frame kernel, 8 bands per vector. Built with this unit's own target flags.
#include "engine/vocoder_kernel_impl.h"

namespace kf::vocoder {

void processAvx2(State& s, const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
                 float* outR, int32_t n, bool mono) {
    runClassic<8>(s, syn, anaL, anaR, offset, outL, outR, n, mono);
}

void articulateAvx2(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                    float* outL, float* outR, int32_t n, bool mono) {
    runArticulate<8>(s, syn, anaL, anaR, offset, outL, outR, n, mono);
}

void stepsAvx2(State& s, float rampFactor) {
    gainSteps<8>(s, rampFactor);
}

}  // namespace kf::vocoder
