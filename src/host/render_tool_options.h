// kestrafone-render's command line: the options, what each one sets and the checks of how
// they combine, and the usage text that documents them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/sound_file.h"

namespace kf::host {

// The tool's exit codes (the usage text explains them).
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitFile = 2,
    kExitPlugin = 3,
    kExitScript = 4,
    kExitNoDisplay = 5,
};

// Why a step of the tool failed: the exit code and the message for the user.
struct Failure {
    int code;
    std::string message;
};

inline constexpr double kMaxLengthSeconds = 86400.0;

struct RenderOptions {
    std::string plugin;
    std::string input, inputA, inputB, output, midi, state, savePreset, sample;
    std::string editorScript, editorShot;
    bool showEditor = false;
    SampleFormat format = SampleFormat::Float32;
    Container container = Container::Wav;
    std::optional<double> lengthSeconds;
    std::optional<int> sampleRate;
    int blockSize = 512;
    std::optional<double> tempo;
    std::vector<std::string> sets;
    bool info = false;
    bool quiet = false;
    bool help = false;

    bool editorMode() const { return showEditor || !editorScript.empty() || !editorShot.empty(); }
};

extern const char* const kRenderUsage;

// Parses argv into `o`; the message for the first bad argument or combination.
std::optional<std::string> parseRenderOptions(int argc, char** argv, RenderOptions& o);

// An output (audio, preset, capture) that is the same file as an input or as another
// output, said as the message for the user.
std::optional<std::string> findOutputThatIsAnInput(const RenderOptions& o);

// Whole-string conversions: trailing garbage, empty text and non-finite values are errors.
std::optional<long long> parseInteger(std::string_view s);
std::optional<double> parseReal(std::string_view s);

}  // namespace kf::host
