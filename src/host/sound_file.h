// The render tool's sound files (inputs and renders), read and written as planar float.
// SoundFileReader and SoundFileWriter are the whole of what the tool asks of a file format:
// sound_file_sndfile.cpp gives them through libsndfile, and a build without that library
// gives its own pair; everything else here is built on them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kf::host {

struct SoundData {
    int sampleRate = 0;                        // Hz
    std::vector<std::vector<float>> channels;  // planar, all the same length
    int64_t frames() const { return channels.empty() ? 0 : static_cast<int64_t>(channels[0].size()); }
};

// Reads a sound file (WAV, AIFF, FLAC, Ogg, ...) block by block, as planar floats
// in -1..1, so that a file of any length costs the memory of one block. Only a regular file
// is opened, so a pipe or a device can neither block nor stream for ever.
class SoundFileReader {
  public:
    SoundFileReader();
    ~SoundFileReader();
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    bool open(const std::string& path, std::string& error);
    int sampleRate() const;
    int channels() const;
    // The length the file declares, until a read finds that it ends sooner (a file cut
    // short): from then on the frames it holds. warning() then says so.
    int64_t frames() const;
    // Reads the next frames into channels[c][0..frames) for each of the file's channels;
    // returns how many were read (0 at the end).
    int32_t read(std::span<float* const> channels, int32_t frames);
    // Frames read so far.
    int64_t position() const;
    // Not empty once the file is known to hold fewer frames than its header gives.
    const std::string& warning() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The whole file at once (through SoundFileReader). A file that ends before the frames its
// header claims is read as far as it goes; *warning (when given) then says so.
bool readSoundFile(const std::string& path, SoundData& out, std::string& error,
                   std::string* warning = nullptr);

// The file types the writer knows, told by the file name's extension (any case): .wav,
// .aif/.aiff, .flac, .ogg/.oga. Nothing for any other name.
enum class Container { Wav, Aiff, Flac, Ogg };
std::optional<Container> containerForPath(const std::string& path);

// The sample format of WAV and AIFF files; FLAC is always written as 24-bit integers and
// Ogg as Vorbis.
enum class SampleFormat { Float32, Pcm24 };

// Streams planar blocks into an audio file. The file is written beside the target and
// renamed over it by close(), so an existing file is replaced only by a complete one and a
// writer closed without success (or destroyed) leaves it as it was. Only a regular file
// (or a new one) is replaced; a symbolic link is followed. Samples beyond full scale are
// clipped in integer formats instead of wrapping around.
class SoundFileWriter {
  public:
    SoundFileWriter();
    ~SoundFileWriter();
    bool open(const std::string& path, int sampleRate, int channels, Container container, SampleFormat format,
              std::string& error);
    bool write(std::span<const float* const> channels, int32_t frames, std::string& error);
    // Finishes the file and puts it in place; reports a failure the final flush met.
    bool close(std::string& error);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

bool writeSoundFile(const std::string& path, const SoundData& data, Container container, SampleFormat format,
                    std::string& error);

}  // namespace kf::host
