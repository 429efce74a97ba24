// Feeds arbitrary bytes to the WAV/AIFF reader as if they were a file: it must refuse or
// read them without crashing, reading out of bounds, or producing values outside -1..1.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "state/audio_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::vector<uint8_t> copy(data, data + size);
    std::FILE* stream = fmemopen(copy.data(), copy.size(), "rb");
    if (!stream) return 0;
    kf::TMAudioFile file;
    float lastFraction = -1.0f;
    file.setProgressCallback(
        [](void* ctx, float f) {
            auto* last = static_cast<float*>(ctx);
            if (!(f >= 0.0f && f < 1.0f) || f <= *last) std::abort();
            *last = f;
        },
        &lastFraction);
    if (file.openRead(stream) != kf::TMAudioFile::kOk) return 0;
    // The frame count can never exceed what the input holds.
    const auto frames = static_cast<size_t>(file.frames());
    if (frames == 0 || frames * static_cast<size_t>(file.channels() * file.bits() / 8) > size) std::abort();
    std::vector<float> left(frames), right(frames);
    if (file.readFrames(left.data(), right.data()) != kf::TMAudioFile::kOk) std::abort();
    for (size_t i = 0; i < frames; ++i)
        if (!(left[i] >= -1.0f && left[i] < 1.0f && right[i] >= -1.0f && right[i] < 1.0f)) std::abort();
    return 0;
}
