// The render tool's audio inputs: --input (its left channel feeds input A, its right input B,
// a mono file both) or --input-a and --input-b (one mono file each). They are read block by
// block as the render reaches them, so the tool's memory does not grow with the files.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/sound_file.h"

namespace kf::host {

class RenderInputs {
  public:
    // Opens the files given (empty paths are left out); an error names the file and what is
    // wrong with it (a missing file, too many channels, two different rates).
    std::optional<std::string> open(const std::string& both, const std::string& a, const std::string& b);

    bool present() const { return !files_.empty(); }
    int sampleRate() const { return files_.empty() ? 0 : files_[0].reader->sampleRate(); }
    // The longest input, as the files declare it...
    int64_t declaredFrames() const;
    // ...and as far as they are known to go: less what a file cut short turned out to miss.
    int64_t knownFrames() const;

    // The warnings not yet taken: a file cut short (found at the start or on the way), an
    // input B that ends before input A.
    std::vector<std::string> takeWarnings();

    // The next `frames` frames: input A into channels[0], input B into channels[1] (when the
    // plug-in has them). Frames past an input's end are left as they are (silence).
    void read(std::span<float* const> channels, int32_t frames);

    // All of it at once, as two channels of the longest input's length; for the editor
    // modes, which play the inputs in a loop.
    std::vector<std::vector<float>> readAll();

  private:
    struct File {
        std::string path;
        std::unique_ptr<SoundFileReader> reader;
        std::vector<int> sources;  // sources[i]: the file channel plug-in input i takes, or -1
        int64_t declared = 0;      // frames, as the file declares them
        bool warned = false;
    };
    std::optional<std::string> add(const std::string& option, const std::string& path,
                                   std::vector<int> sources);
    void noteWarnings();

    std::vector<File> files_;
    std::vector<std::string> warnings_;
    std::vector<std::vector<float>> block_;  // one file's channels of the current block
};

}  // namespace kf::host
