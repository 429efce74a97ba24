// Vocoder frame kernel, 16 bands per vector. Built with this unit's own target flags.
#include "engine/vocoder_kernel_impl.h"

namespace kf::vocoder {

void processAvx512(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                   float* outL, float* outR, int32_t n, bool mono) {
    runClassic<16>(s, syn, anaL, anaR, offset, outL, outR, n, mono);
}

void articulateAvx512(State& s, const float* syn, const float* anaL, const float* anaR, float offset,
                      float* outL, float* outR, int32_t n, bool mono) {
    runArticulate<16>(s, syn, anaL, anaR, offset, outL, outR, n, mono);
}

void stepsAvx512(State& s, float rampFactor) {
    gainSteps<16>(s, rampFactor);
}

}  // namespace kf::vocoder
