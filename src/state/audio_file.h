// Reading WAV and AIFF sample files (PCM, 16 or 24 bits, mono or stereo) as two float
// channels, and writing a 16-bit stereo WAV file. A plain object used on the stack for
// one file at a time; it never throws.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <cstdio>

namespace kf {

class TMAudioFile {
  public:
    enum Format : int32_t { kWav = 0, kAiff = 1, kNoFormat = 2 };
    enum Mode : int32_t { kClosed = 0, kReading = 1, kWriting = 2 };
    enum Result : int32_t { kOk = 0, kFailed = 1, kUnsupported = 2, kWrongMode = 3 };

    // Layout bits of the sample data: big-endian (AIFF), 24-bit, two channels.
    static constexpr int32_t kLayoutBigEndian = 1;
    static constexpr int32_t kLayout24Bit = 2;
    static constexpr int32_t kLayoutStereo = 4;

    // Longest file accepted, in frames: about 50 minutes at 44.1 kHz. Its float and
    // 16-bit copies then need at most 1.5 GiB, and every byte and frame count stays
    // within 32 bits.
    static constexpr int32_t kMaxFrames = 1 << 27;
    // Highest sample rate a WAV header may claim; 0 is refused as well, since playback
    // divides by the file's rate.
    static constexpr uint32_t kMaxSampleRate = 1000000;

    // Called before each block read with the fraction done (0 to <1).
    using ProgressCallback = void (*)(void* context, float fraction);

    TMAudioFile() = default;
    ~TMAudioFile() { close(); }
    TMAudioFile(const TMAudioFile&) = delete;
    TMAudioFile& operator=(const TMAudioFile&) = delete;

    // The callback runs only when both it and the context are non-null.
    void setProgressCallback(ProgressCallback callback, void* context) {
        progress_ = callback;
        progressContext_ = context;
    }

    // Opens a regular file and parses its header. Only regular files are opened, so a
    // path naming a pipe or a device can neither block nor stream for ever. The header's
    // frame count is cut to the sample bytes the file really holds; a file with none is
    // refused. On kOk the stream stands at the first sample byte and mode() is kReading;
    // on any other result the object is closed.
    Result openRead(const char* path);
    // The same for a stream the object takes over (closed with the object); it must be
    // seekable. For tests and fuzzing over memory streams.
    Result openRead(std::FILE* stream);

    // Reads all frames(): each channel receives frames() floats in -1..1; a mono file
    // writes the same values to both. Needs kReading.
    Result readFrames(float* left, float* right);

    // Creates or truncates path for writeWav at the given rate (Hz); kFailed if it cannot
    // be opened.
    Result openWrite(const char* path, int32_t sampleRate);
    // Writes a 16-bit stereo WAV of `frames` frames at sampleRate() (right may equal
    // left). kWrongMode unless opened for writing. Non-finite or out-of-range samples are
    // clamped, never wrapped.
    Result writeWav(const float* left, const float* right, int32_t frames);

    // Closes the stream (if any) and resets every field. False when closing reported an
    // error (for a written file: its last bytes may be lost).
    bool close();

    int32_t layout() const { return layout_; }
    int32_t frames() const { return frames_; }
    int32_t blockBytes() const { return blockBytes_; }
    int32_t sampleRate() const { return sampleRate_; }
    int32_t channels() const { return channels_; }
    int32_t format() const { return format_; }
    int32_t mode() const { return mode_; }
    int32_t bits() const { return bits_; }

  private:
    // Where the sample data chunk starts (-1 while not found) and its claimed size.
    struct ChunkFound {
        off_t dataStart = -1;
        uint32_t dataBytes = 0;
        bool formatSeen = false;
    };
    static constexpr uint32_t kWavePcm = 1;
    static constexpr uint32_t kWaveExtensible = 0xFFFE;

    Result parseWav();
    Result parseAiff();
    Result walkChunks(bool bigEndian, const char* formatId, const char* dataId, ChunkFound& found);
    Result parseFmt(uint32_t size);
    Result parseComm(uint32_t size);
    Result limitFramesToFile(uint64_t claimedFrames);
    bool readBytes(void* out, std::size_t n);
    bool skip(uint64_t bytes);
    void convertBlock(const unsigned char* data, int32_t bytes, float* left, float* right) const;
    void resetFields();

    ProgressCallback progress_ = nullptr;
    void* progressContext_ = nullptr;
    int32_t layout_ = 0;
    std::array<unsigned char, 1024> block_{};
    int32_t frames_ = 0;
    int32_t blockBytes_ = 1024;
    int32_t sampleRate_ = 44100;
    int32_t channels_ = 1;
    int32_t format_ = kNoFormat;
    int32_t mode_ = kClosed;
    int32_t bits_ = 16;
    uint32_t aiffFrames_ = 0;  // the common chunk's frame count, until the sound data is found
    std::FILE* file_ = nullptr;
};

}  // namespace kf
