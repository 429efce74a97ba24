// Byte-exact WAV and AIFF images for the state tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_files.h"

namespace kf::test {

struct ByteWriter {
    Bytes bytes;
    void tag(const char* t) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(t[i]));
    }
    void le16(uint32_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    void le32(uint32_t v) {
        le16(v & 0xFFFF);
        le16(v >> 16);
    }
    void be16(uint32_t v) {
        bytes.push_back(static_cast<uint8_t>(v >> 8));
        bytes.push_back(static_cast<uint8_t>(v));
    }
    void be32(uint32_t v) {
        be16(v >> 16);
        be16(v & 0xFFFF);
    }
    void raw(std::initializer_list<uint8_t> b) {
        for (uint8_t v : b) bytes.push_back(v);
    }
};

struct WavSpec {
    uint32_t channels = 1;
    uint32_t bits = 16;
    uint32_t rate = 44100;
    uint32_t align = 0;     // 0: channels * bits / 8
    uint32_t fmtSize = 16;  // 18 adds a zero extension size word
    uint32_t formatTag = 1;
    int64_t dataSizeClaim = -1;  // -1: the real size
    Bytes beforeData;            // whole chunks put as they are between the fmt and data chunks
};

// A RIFF chunk of the given body, padded to an even length.
inline Bytes riffChunk(const char* id, const std::string& body) {
    ByteWriter w;
    w.tag(id);
    w.le32(static_cast<uint32_t>(body.size()));
    w.bytes.insert(w.bytes.end(), body.begin(), body.end());
    if (body.size() % 2) w.bytes.push_back(0);
    return w.bytes;
}

// samples interleaved, as signed integers of the given bit depth.
inline Bytes makeWav(const WavSpec& s, const std::vector<int32_t>& samples) {
    const uint32_t sampleBytes = s.bits / 8;
    const auto dataBytes = static_cast<uint32_t>(samples.size() * sampleBytes);
    ByteWriter w;
    w.tag("RIFF");
    w.le32(0);  // patched below
    w.tag("WAVE");
    w.tag("fmt ");
    w.le32(s.fmtSize);
    w.le16(s.formatTag);
    w.le16(s.channels);
    w.le32(s.rate);
    w.le32(s.rate * s.channels * sampleBytes);
    w.le16(s.align ? s.align : s.channels * sampleBytes);
    w.le16(s.bits);
    for (uint32_t i = 16; i < s.fmtSize; ++i) w.bytes.push_back(0);
    w.bytes.insert(w.bytes.end(), s.beforeData.begin(), s.beforeData.end());
    w.tag("data");
    w.le32(s.dataSizeClaim >= 0 ? static_cast<uint32_t>(s.dataSizeClaim) : dataBytes);
    for (int32_t v : samples) {
        const auto u = static_cast<uint32_t>(v);
        for (uint32_t b = 0; b < sampleBytes; ++b) w.bytes.push_back(static_cast<uint8_t>(u >> (8 * b)));
    }
    const auto riff = static_cast<uint32_t>(w.bytes.size() - 8);
    for (int i = 0; i < 4; ++i)
        w.bytes[4 + static_cast<std::size_t>(i)] = static_cast<uint8_t>(riff >> (8 * i));
    return w.bytes;
}

// The 80-bit extended rate bytes for the rates the reader knows (and any other byte triple).
struct AiffRateBytes {
    uint8_t exponentLow, mantissa0, mantissa1;
};
inline AiffRateBytes aiffRate(uint32_t hz) {
    struct Known {
        uint32_t hz;
        AiffRateBytes bytes;
    };
    for (const Known k :
         {Known{22050, {13, 172, 68}}, Known{44100, {14, 172, 68}}, Known{48000, {14, 187, 128}},
          Known{88200, {15, 172, 68}}, Known{96000, {15, 187, 128}}, Known{32000, {13, 250, 0}}})
        if (k.hz == hz) return k.bytes;
    return {0, 0, 0};
}

struct AiffSpec {
    uint32_t channels = 1;
    uint32_t bits = 16;
    uint32_t rate = 44100;
    uint32_t offset = 0;
    int64_t frameClaim = -1;  // -1: the real count
};

inline Bytes makeAiff(const AiffSpec& s, const std::vector<int32_t>& samples) {
    const uint32_t sampleBytes = s.bits / 8;
    const auto frames = static_cast<uint32_t>(samples.size() / s.channels);
    ByteWriter w;
    w.tag("FORM");
    w.be32(0);
    w.tag("AIFF");
    w.tag("COMM");
    w.be32(18);
    w.be16(s.channels);
    w.be32(s.frameClaim >= 0 ? static_cast<uint32_t>(s.frameClaim) : frames);
    w.be16(s.bits);
    const AiffRateBytes r = aiffRate(s.rate);
    w.raw({0x40, r.exponentLow, r.mantissa0, r.mantissa1, 0, 0, 0, 0, 0, 0});
    w.tag("SSND");
    w.be32(8 + s.offset + static_cast<uint32_t>(samples.size()) * sampleBytes);
    w.be32(s.offset);
    w.be32(0);
    for (uint32_t i = 0; i < s.offset; ++i) w.bytes.push_back(0xEE);
    for (int32_t v : samples) {
        const auto u = static_cast<uint32_t>(v);
        for (uint32_t b = sampleBytes; b-- > 0;) w.bytes.push_back(static_cast<uint8_t>(u >> (8 * b)));
    }
    const auto form = static_cast<uint32_t>(w.bytes.size() - 8);
    for (int i = 0; i < 4; ++i)
        w.bytes[4 + static_cast<std::size_t>(i)] = static_cast<uint8_t>(form >> (24 - 8 * i));
    return w.bytes;
}

}  // namespace kf::test
