#include "state/audio_file.h"

#include <algorithm>
#include <cstring>

#include "common/numeric.h"
#include "platform/file_system.h"

namespace kf {

namespace {

uint32_t le16(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
}
uint32_t le32(const unsigned char* p) {
    return le16(p) | le16(p + 2) << 16;
}
uint32_t be16(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]);
}
uint32_t be32(const unsigned char* p) {
    return be16(p) << 16 | be16(p + 2);
}

void putLe32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Exactly 2^-15 and 2^-23, so every integer sample maps to a float without rounding.
constexpr float kScale16 = 1.0f / 32768.0f;
constexpr float kScale24 = 1.0f / 8388608.0f;

// Blocks of 24-bit data hold whole 3-byte (mono) and 6-byte (stereo) frames.
constexpr int32_t kBlockBytes16 = 1024;
constexpr int32_t kBlockBytes24 = 972;

// The few AIFF rates we accept, recognised by the second exponent byte and the first two
// mantissa bytes of the 80-bit extended value.
struct AiffRate {
    unsigned char exponentLow, mantissa0, mantissa1;
    int32_t hz;
};
constexpr AiffRate kAiffRates[] = {
    {13, 172, 68, 22050}, {14, 172, 68, 44100},  {14, 187, 128, 48000},
    {15, 172, 68, 88200}, {15, 187, 128, 96000},
};

}  // namespace

void TMAudioFile::resetFields() {
    layout_ = 0;
    frames_ = 0;
    blockBytes_ = kBlockBytes16;
    sampleRate_ = 44100;
    channels_ = 1;
    format_ = kNoFormat;
    mode_ = kClosed;
    bits_ = 16;
}

bool TMAudioFile::close() {
    const bool ok = !file_ || std::fclose(file_) == 0;
    file_ = nullptr;
    resetFields();
    return ok;
}

TMAudioFile::Result TMAudioFile::openRead(const char* path) {
    close();
    if (!path || std::strlen(path) < 2) return kFailed;
    return openRead(platform::openRegularStream(path));
}

TMAudioFile::Result TMAudioFile::openRead(std::FILE* stream) {
    close();
    if (!stream) return kFailed;
    file_ = stream;
    mode_ = kReading;
    unsigned char id[4];
    Result result = kUnsupported;
    if (!readBytes(id, 4)) {
        result = kFailed;
    } else if (std::memcmp(id, "RIFF", 4) == 0) {
        result = parseWav();
    } else if (std::memcmp(id, "FORM", 4) == 0) {
        result = parseAiff();
    }
    if (result != kOk) close();
    return result;
}

bool TMAudioFile::readBytes(void* out, std::size_t n) {
    return std::fread(out, 1, n, file_) == n;
}

TMAudioFile::Result TMAudioFile::walkChunks(bool bigEndian, const char* formatId, const char* dataId,
                                            ChunkFound& found) {
    // Chunks follow each other by their sizes, each padded to an even length. The format
    // chunk is handed to onFormat as soon as it is met; the data chunk is only remembered,
    // since a few writers put it first.
    found = {};
    for (;;) {
        unsigned char h[8];
        if (!readBytes(h, 8)) return kFailed;
        const uint32_t size = bigEndian ? be32(h + 4) : le32(h + 4);
        const off_t body = ::ftello(file_);
        if (body < 0) return kFailed;
        if (std::memcmp(h, dataId, 4) == 0 && found.dataStart < 0) {
            found.dataStart = body;
            found.dataBytes = size;
            if (found.formatSeen) return kOk;  // what follows the data is of no interest
        } else if (std::memcmp(h, formatId, 4) == 0 && !found.formatSeen) {
            const Result r = bigEndian ? parseComm(size) : parseFmt(size);
            if (r != kOk) return r;
            found.formatSeen = true;
            if (found.dataStart >= 0) return kOk;
        }
        const uint64_t next = static_cast<uint64_t>(body) + size + (size & 1u);
        if (::fseeko(file_, static_cast<off_t>(next), SEEK_SET) != 0) return kFailed;
    }
}

bool TMAudioFile::skip(uint64_t bytes) {
    if (bytes == 0) return true;
    if (bytes > static_cast<uint64_t>(INT64_MAX)) return false;
    return ::fseeko(file_, static_cast<off_t>(bytes), SEEK_CUR) == 0;
}

TMAudioFile::Result TMAudioFile::limitFramesToFile(uint64_t claimedFrames) {
    // Headers lie (truncated downloads, recorders that died before patching the size),
    // so the frame count is checked against what follows before anyone allocates for it.
    const off_t start = ::ftello(file_);
    if (start < 0 || ::fseeko(file_, 0, SEEK_END) != 0) return kFailed;
    const off_t end = ::ftello(file_);
    if (end < 0 || ::fseeko(file_, start, SEEK_SET) != 0) return kFailed;
    const uint64_t available = end > start ? static_cast<uint64_t>(end - start) : 0;
    const uint64_t frameBytes = static_cast<uint64_t>(channels_) * static_cast<uint64_t>(bits_ / 8);
    const uint64_t frames = std::min(claimedFrames, available / frameBytes);
    if (frames == 0) return kFailed;
    if (frames > static_cast<uint64_t>(kMaxFrames)) return kUnsupported;
    frames_ = static_cast<int32_t>(frames);
    return kOk;
}

TMAudioFile::Result TMAudioFile::parseFmt(uint32_t size) {
    unsigned char b[24];
    if (size < 16) return kUnsupported;
    if (!readBytes(b, 16)) return kFailed;
    const uint32_t formatTag = le16(b);
    const uint32_t channels = le16(b + 2);
    const uint32_t rate = le32(b + 4);
    // b + 8: the byte rate, derived and not trusted
    const uint32_t align = le16(b + 12);
    const uint32_t bits = le16(b + 14);
    bool pcm = formatTag == kWavePcm;
    if (formatTag == kWaveExtensible && size >= 40) {
        // Extension size, valid bits, speaker mask, then the sub-format GUID. Plain integer
        // PCM with every bit of its container valid is the very data a tag-1 file holds.
        static constexpr unsigned char kPcmGuid[16] = {1,    0, 0, 0,    0, 0,    0x10, 0,
                                                       0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        if (!readBytes(b, 24)) return kFailed;
        pcm = le16(b) >= 22 && le16(b + 2) == bits && std::memcmp(b + 8, kPcmGuid, 16) == 0;
    }
    if (!pcm || (channels != 1 && channels != 2)) return kUnsupported;
    const bool accepted = channels == 1 ? ((align == 2 && bits == 16) || (align == 3 && bits == 24))
                                        : ((align == 4 && bits == 16) || (align == 6 && bits == 24));
    if (!accepted) return kUnsupported;
    if (rate == 0 || rate > kMaxSampleRate) return kUnsupported;
    channels_ = static_cast<int32_t>(channels);
    bits_ = static_cast<int32_t>(bits);
    sampleRate_ = static_cast<int32_t>(rate);
    return kOk;
}

TMAudioFile::Result TMAudioFile::parseWav() {
    unsigned char b[4];
    if (!readBytes(b, 4)) return kFailed;  // RIFF size: not trusted, not needed
    if (!readBytes(b, 4)) return kFailed;
    if (std::memcmp(b, "WAVE", 4) != 0) return kUnsupported;
    ChunkFound found;
    if (const Result r = walkChunks(false, "fmt ", "data", found); r != kOk) return r;
    if (::fseeko(file_, found.dataStart, SEEK_SET) != 0) return kFailed;

    format_ = kWav;
    layout_ = (bits_ == 24 ? kLayout24Bit : 0) | (channels_ == 2 ? kLayoutStereo : 0);
    blockBytes_ = bits_ == 24 ? kBlockBytes24 : kBlockBytes16;
    return limitFramesToFile(found.dataBytes / static_cast<uint32_t>(channels_) /
                             static_cast<uint32_t>(bits_ / 8));
}

TMAudioFile::Result TMAudioFile::parseComm(uint32_t size) {
    unsigned char b[18];
    if (size < 18) return kUnsupported;
    if (!readBytes(b, 18)) return kFailed;
    const uint32_t channels = be16(b);
    aiffFrames_ = be32(b + 2);
    const uint32_t bits = be16(b + 6);
    if (channels != 1 && channels != 2) return kUnsupported;
    if (bits != 16 && bits != 24) return kUnsupported;
    // b + 8: the 80-bit extended rate
    int32_t rate = 0;
    for (const AiffRate& r : kAiffRates)
        if (b[9] == r.exponentLow && b[10] == r.mantissa0 && b[11] == r.mantissa1) rate = r.hz;
    if (rate == 0) return kUnsupported;
    channels_ = static_cast<int32_t>(channels);
    bits_ = static_cast<int32_t>(bits);
    sampleRate_ = rate;
    return kOk;
}

TMAudioFile::Result TMAudioFile::parseAiff() {
    unsigned char b[8];
    if (!readBytes(b, 4)) return kFailed;  // FORM size
    if (!readBytes(b, 4)) return kFailed;
    if (std::memcmp(b, "AIFF", 4) != 0) return kUnsupported;
    ChunkFound found;
    if (const Result r = walkChunks(true, "COMM", "SSND", found); r != kOk) return r;
    // The sound data chunk opens with an offset to the first sample and a block size.
    if (found.dataBytes < 8 || ::fseeko(file_, found.dataStart, SEEK_SET) != 0 || !readBytes(b, 8))
        return kFailed;
    const uint32_t offset = be32(b);
    if (offset > found.dataBytes - 8 || !skip(offset)) return kFailed;

    format_ = kAiff;
    layout_ = kLayoutBigEndian | (bits_ == 24 ? kLayout24Bit : 0) | (channels_ == 2 ? kLayoutStereo : 0);
    blockBytes_ = bits_ == 24 ? kBlockBytes24 : kBlockBytes16;
    const uint32_t frameBytes = static_cast<uint32_t>(channels_ * bits_ / 8);
    return limitFramesToFile(std::min(aiffFrames_, (found.dataBytes - 8 - offset) / frameBytes));
}

void TMAudioFile::convertBlock(const unsigned char* data, int32_t bytes, float* left, float* right) const {
    const bool bigEndian = (layout_ & kLayoutBigEndian) != 0;
    const bool stereo = (layout_ & kLayoutStereo) != 0;
    const int32_t sampleBytes = (layout_ & kLayout24Bit) ? 3 : 2;
    const int32_t samples = bytes / sampleBytes;
    for (int32_t i = 0; i < samples; ++i) {
        const unsigned char* p = data + static_cast<std::ptrdiff_t>(i) * sampleBytes;
        float x;
        if (sampleBytes == 2) {
            const uint32_t u = bigEndian ? be16(p) : le16(p);
            x = static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(u))) * kScale16;
        } else {
            int32_t v = bigEndian ? static_cast<int32_t>(p[0] << 16 | p[1] << 8 | p[2])
                                  : static_cast<int32_t>(p[2] << 16 | p[1] << 8 | p[0]);
            if (v > 8388607) v -= 16777216;
            x = static_cast<float>(v) * kScale24;
        }
        if (stereo) {
            if (i % 2 == 0)
                left[i / 2] = x;
            else
                right[i / 2] = x;
        } else {
            left[i] = x;
            right[i] = x;
        }
    }
}

TMAudioFile::Result TMAudioFile::readFrames(float* left, float* right) {
    if (mode_ != kReading || !file_) return kWrongMode;
    if (!left || !right) return kFailed;
    const int64_t frameBytes = static_cast<int64_t>(channels_) * (bits_ / 8);
    const int64_t total = frameBytes * frames_;
    int64_t remaining = total;
    int64_t frame = 0;
    while (remaining > 0) {
        if (progress_ && progressContext_)
            progress_(progressContext_, static_cast<float>(total - remaining) / static_cast<float>(total));
        const auto n = static_cast<int32_t>(std::min<int64_t>(blockBytes_, remaining));
        if (!readBytes(block_.data(), static_cast<std::size_t>(n))) return kFailed;
        convertBlock(block_.data(), n, left + frame, right + frame);
        frame += n / frameBytes;
        remaining -= n;
    }
    return kOk;
}

TMAudioFile::Result TMAudioFile::openWrite(const char* path, int32_t sampleRate) {
    close();
    if (!path || !*path) return kFailed;
    file_ = platform::createFileStream(path);
    if (!file_) return kFailed;
    mode_ = kWriting;
    format_ = kWav;
    channels_ = 2;
    layout_ = kLayoutStereo;
    sampleRate_ = sampleRate;
    return kOk;
}

TMAudioFile::Result TMAudioFile::writeWav(const float* left, const float* right, int32_t frames) {
    if (mode_ != kWriting || !file_) return kWrongMode;
    if (frames < 0 || frames > kMaxFrames || (frames > 0 && (!left || !right))) return kFailed;
    if (sampleRate_ <= 0 || sampleRate_ > static_cast<int32_t>(kMaxSampleRate)) return kFailed;
    frames_ = frames;
    const uint32_t dataBytes = 4u * static_cast<uint32_t>(frames);

    unsigned char header[44];
    std::memcpy(header, "RIFF", 4);
    putLe32(header + 4, 36u + dataBytes);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putLe32(header + 16, 16);
    putLe32(header + 20, 1u | 2u << 16);  // PCM, two channels
    putLe32(header + 24, static_cast<uint32_t>(sampleRate_));
    putLe32(header + 28, static_cast<uint32_t>(sampleRate_) * 4u);  // byte rate
    putLe32(header + 32, 4u | 16u << 16);                           // alignment 4, 16 bits
    std::memcpy(header + 36, "data", 4);
    putLe32(header + 40, dataBytes);
    if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) return kFailed;

    int32_t used = 0;
    for (int32_t i = 0; i < frames; ++i) {
        for (const float* channel : {left, right}) {
            // Saturating truncation: an out-of-range or non-finite value clips instead of
            // wrapping around to the opposite sign.
            const int32_t v = std::clamp(truncToInt(channel[i] * 32767.0f), -32768, 32767);
            const auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
            block_[static_cast<std::size_t>(used++)] = static_cast<unsigned char>(u);
            block_[static_cast<std::size_t>(used++)] = static_cast<unsigned char>(u >> 8);
        }
        if (used == blockBytes_) {
            if (std::fwrite(block_.data(), 1, static_cast<std::size_t>(used), file_) !=
                static_cast<std::size_t>(used))
                return kFailed;
            used = 0;
        }
    }
    if (used > 0 && std::fwrite(block_.data(), 1, static_cast<std::size_t>(used), file_) !=
                        static_cast<std::size_t>(used))
        return kFailed;
    return std::fflush(file_) == 0 ? kOk : kFailed;
}

}  // namespace kf
