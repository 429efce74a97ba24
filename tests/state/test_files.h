// Byte-exact WAV and AIFF images for the state tests.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_files.h"

namespace kf::test {

struct ByteWriter {
    Bytes bytes;
    void tag(const char* t) { bytes.insert(bytes.end(), t, t + 4); }
    // The low `size` bytes of v, little- or big-endian.
    void put(uint32_t v, uint32_t size, bool big = false) {
        for (uint32_t i = 0; i < size; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * (big ? size - 1 - i : i))));
    }
    // Writes the container's size (all that follows its first 8 bytes) into bytes 4 to 7.
    Bytes finish(bool big) {
        const auto size = static_cast<uint32_t>(bytes.size() - 8);
        for (uint32_t i = 0; i < 4; ++i) bytes[4 + i] = static_cast<uint8_t>(size >> (8 * (big ? 3 - i : i)));
        return bytes;
    }
};

struct WavLayout {
    uint32_t channels = 1;
    uint32_t bits = 16;
    uint32_t rate = 44100;
    uint32_t align = 0;     // 0: channels * bits / 8
    uint32_t fmtSize = 16;  // 18 adds a zero extension size word
    uint32_t formatTag = 1;
    int64_t dataSizeClaim = -1;  // -1: the real size
    Bytes beforeData{};          // whole chunks put as they are between the fmt and data chunks
};

// A RIFF chunk of the given body, padded to an even length.
inline Bytes riffChunk(const char* id, const std::string& body) {
    ByteWriter w;
    w.tag(id);
    w.put(static_cast<uint32_t>(body.size()), 4);
    w.bytes.insert(w.bytes.end(), body.begin(), body.end());
    if (body.size() % 2) w.bytes.push_back(0);
    return w.bytes;
}

// samples interleaved, as signed integers of the given bit depth.
inline Bytes makeWav(const WavLayout& s, const std::vector<int32_t>& samples) {
    const uint32_t sampleBytes = s.bits / 8;
    ByteWriter w;
    w.tag("RIFF");
    w.put(0, 4);
    w.tag("WAVE");
    w.tag("fmt ");
    for (auto [v, size] : {std::pair{s.fmtSize, 4u},
                           {s.formatTag, 2u},
                           {s.channels, 2u},
                           {s.rate, 4u},
                           {s.rate * s.channels * sampleBytes, 4u},
                           {s.align ? s.align : s.channels * sampleBytes, 2u},
                           {s.bits, 2u}})
        w.put(v, size);
    w.bytes.resize(w.bytes.size() + s.fmtSize - 16, 0);
    w.bytes.insert(w.bytes.end(), s.beforeData.begin(), s.beforeData.end());
    w.tag("data");
    const auto dataBytes = static_cast<uint32_t>(samples.size() * sampleBytes);
    w.put(s.dataSizeClaim >= 0 ? static_cast<uint32_t>(s.dataSizeClaim) : dataBytes, 4);
    for (int32_t v : samples) w.put(static_cast<uint32_t>(v), sampleBytes);
    return w.finish(false);
}

struct AiffLayout {
    uint32_t channels = 1;
    uint32_t bits = 16;
    uint32_t rate = 44100;
    uint32_t offset = 0;
    int64_t frameClaim = -1;  // -1: the real count
};

inline Bytes makeAiff(const AiffLayout& s, const std::vector<int32_t>& samples) {
    const uint32_t sampleBytes = s.bits / 8;
    const auto frames = static_cast<uint32_t>(samples.size() / s.channels);
    ByteWriter w;
    w.tag("FORM");
    w.put(0, 4);
    w.tag("AIFF");
    w.tag("COMM");
    w.put(18, 4, true);
    w.put(s.channels, 2, true);
    w.put(s.frameClaim >= 0 ? static_cast<uint32_t>(s.frameClaim) : frames, 4, true);
    w.put(s.bits, 2, true);
    // The rate as an 80-bit extended float: exponent, then the mantissa with its leading one.
    const int exponent = static_cast<int>(std::bit_width(s.rate)) - 1;
    const uint64_t mantissa = exponent < 0 ? 0 : uint64_t{s.rate} << (63 - exponent);
    w.put(exponent < 0 ? 0 : static_cast<uint32_t>(16383 + exponent), 2, true);
    w.put(static_cast<uint32_t>(mantissa >> 32), 4, true);
    w.put(static_cast<uint32_t>(mantissa), 4, true);
    w.tag("SSND");
    w.put(8 + s.offset + static_cast<uint32_t>(samples.size()) * sampleBytes, 4, true);
    w.put(s.offset, 4, true);
    w.put(0, 4, true);
    w.bytes.resize(w.bytes.size() + s.offset, 0xEE);
    for (int32_t v : samples) w.put(static_cast<uint32_t>(v), sampleBytes, true);
    return w.finish(true);
}

}  // namespace kf::test
