// Reading and writing the render tool's audio files through libsndfile, as planar float.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kf::host {

struct AudioData {
    int sampleRate = 0;                        // Hz
    std::vector<std::vector<float>> channels;  // planar, all the same length
    int64_t frames() const { return channels.empty() ? 0 : static_cast<int64_t>(channels[0].size()); }
};

// Reads any format libsndfile knows (WAV, AIFF, FLAC, ...) as floats in -1..1.
bool readAudioFile(const std::string& path, AudioData& out, std::string& error);

enum class SampleFormat { Float32, Pcm24 };

// Streams planar blocks into a WAV file. Samples beyond full scale are clipped in the
// 24-bit format instead of wrapping around.
class WavWriter {
  public:
    WavWriter();
    ~WavWriter();
    bool open(const std::string& path, int sampleRate, int channels, SampleFormat format, std::string& error);
    bool write(std::span<const float* const> channels, int32_t frames, std::string& error);
    // Finishes the header; reports a failure the final flush met.
    bool close(std::string& error);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

bool writeWavFile(const std::string& path, const AudioData& data, SampleFormat format, std::string& error);

}  // namespace kf::host
