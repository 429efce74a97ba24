// kestrafone-render: renders audio files through a VST 2.4 plug-in, or describes the
// plug-in the way a host's scanner sees it.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/sample_rate_range.h"
#include "host/audio_feed.h"
#include "host/audio_file.h"
#include "host/editor_script.h"
#include "host/editor_window.h"
#include "host/midi_file.h"
#include "host/render.h"
#include "host/render_inputs.h"
#include "host/stop_signals.h"
#include "host/vst_host.h"
#include "host/window_script.h"
#include "platform/file_identity.h"
#include "platform/safe_files.h"
#include "state/paths.h"

namespace {

using kf::host::AudioData;
using kf::host::Plugin;

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFile = 2;
constexpr int kExitPlugin = 3;
constexpr int kExitScript = 4;
constexpr int kExitNoDisplay = 5;

constexpr double kMidiTailSeconds = 2.0;  // rendered after the last MIDI event, for releases and reverb
constexpr double kMaxLengthSeconds = 86400.0;
// A plug-in's saved state: Kestrafone's is a few KiB, and no plug-in that stores samples
// inside its state should need more.
constexpr uint64_t kMaxStateBytes = 256u << 20;
constexpr uint64_t kMaxScriptBytes = 1u << 20;
// --editor-shot lets the editor idle this long before the capture, for plug-ins that
// draw over several idles.
constexpr std::chrono::milliseconds kShotDelay{300};

constexpr const char* kUsage = R"(Usage: kestrafone-render [options] PLUGIN.so
       kestrafone-render [options] --plugin PLUGIN.so

Renders audio through a VST 2.4 plug-in. The plug-in's input 1 is input A and its
input 2 is input B.

Inputs and output:
  --input FILE         one audio file: left channel = input A, right = input B
                       (a mono file feeds both)
  --input-a FILE       a mono file for input A (silence if omitted)
  --input-b FILE       a mono file for input B (silence if omitted); the shorter
                       of A and B is padded with silence (a warning says when
                       B ends first)
  --output FILE        the audio file to write (one channel per plug-in output);
                       its extension chooses the type: .wav, .aif or .aiff,
                       .flac (24-bit), .ogg or .oga (Vorbis). An existing file
                       is replaced only when the render succeeds
  --format F           for WAV and AIFF: float (32-bit float, the default) or
                       pcm24
  --midi FILE.mid      a Standard MIDI File whose channel messages (notes,
                       controllers, pitch bend, pressure, program changes) are
                       sent to the plug-in at their sample frames; the tracks
                       play together and the file's tempo map times them
  --length SECONDS     length of the output; longer than the input renders the
                       plug-in's tail over silence, shorter cuts the input.
                       Default: the input's length, or, when the MIDI file
                       lasts longer (or there is no input), its last event
                       plus 2 s. Required when there is neither input nor MIDI.

Processing:
  --sample-rate HZ     11050 to 196000, the rates Kestrafone runs at; default:
                       the input's rate, else 44100. Inputs at another rate are
                       refused (no resampling)
  --block-size N       frames per processing call, 1..8192 (default 512)
  --tempo BPM          host tempo reported to the plug-in (default: the MIDI
                       file's tempo map, else 120); with --midi it also replaces
                       every tempo of the file in timing its events
  --state FILE         restore the plug-in's state from FILE (a chunk as the
  --preset FILE        plug-in saves it, e.g. one of its preset files) before
                       any --set
  --sample FILE        load a WAV or AIFF file into Kestrafone's sampler (through
                       its state chunk, as a host restoring a project would)
  --save-preset FILE   after --state and --set, write the plug-in's state (its
                       chunk, byte for byte) to FILE (.kfn is added to a name
                       without an extension); without --output nothing is
                       rendered
  --set NAME=VALUE     set a parameter before rendering; NAME is the name the
                       plug-in reports or its index, VALUE is normalised 0..1.
                       Repeatable.

The plug-in's editor, in an X11 window on $DISPLAY, while an audio thread feeds
it the input (looped) or silence in real time; --output and --midi do not apply:
  --show-editor        open the editor for you; quits when you close the window
                       or press Ctrl-C
  --editor-script FILE play an editor event script: pointer steps are sent with
                       xdotool, 'process N' waits for N frames of audio, 'expect'
                       lines check parameters and the host's edit log, 'snapshot'
                       captures the window. 'expect held' cannot be seen by a host
                       and is reported as not checked
  --editor-shot FILE   open the editor, let it idle briefly and capture its
                       window to a PNG file

Other:
  --info               print the plug-in's description and parameters and exit
                       (after applying any --set)
  --quiet, -q          no progress bar or summary
  --help, -h           this text

Every FILE must be a regular file (or, for files written, a new one), and no file
written may be one that is read. An option with a value (--set aside) is given
once at most.
Ctrl-C, SIGTERM and SIGHUP stop a render after its current block: nothing is
written, and an existing output stays as it was.

Exit codes: 0 success, 1 usage error (bad option, value or parameter name, an
output that is also an input), 2 input/output file error (including an input at
a rate Kestrafone cannot run at, a --sample the plug-in could not load, a bad
editor script or a capture that could not be written), 3 plug-in load or
interface error (also: no editor, or it would not open), 4 an editor script
step failed (an expectation not met), 5 no X display or no xdotool. A render
stopped by a signal ends as that signal ends a program.
)";

struct Options {
    std::string plugin;
    std::string input, inputA, inputB, output, midi, state, savePreset, sample;
    std::string editorScript, editorShot;
    bool showEditor = false;
    kf::host::SampleFormat format = kf::host::SampleFormat::Float32;
    kf::host::Container container = kf::host::Container::Wav;
    std::optional<double> lengthSeconds;
    std::optional<int> sampleRate;
    int blockSize = 512;
    std::optional<double> tempo;
    std::vector<std::string> sets;
    bool info = false;
    bool quiet = false;
    bool help = false;
};

int fail(int code, const std::string& message) {
    std::fprintf(stderr, "kestrafone-render: %s\n", message.c_str());
    if (code == kExitUsage) std::fprintf(stderr, "Try 'kestrafone-render --help'.\n");
    return code;
}

// Whole-string conversions: trailing garbage, empty text and non-finite values are errors.
std::optional<long long> parseInteger(std::string_view s) {
    long long value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return value;
}

std::optional<double> parseReal(std::string_view s) {
    double value = 0.0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Parses argv into `o`; returns an error message for the first bad argument.
std::optional<std::string> parseArguments(int argc, char** argv, Options& o) {
    std::vector<std::string> positional;
    std::set<std::string> seen;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        if (arg == "--info") {
            o.info = true;
            continue;
        }
        if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
            continue;
        }
        if (arg == "--show-editor") {
            o.showEditor = true;
            continue;
        }
        // Every other option takes a value, as "--name value" or "--name=value".
        std::string name = arg, value;
        if (const auto eq = arg.find('='); eq != std::string::npos && arg.starts_with("--")) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return "option " + arg + " needs a value";
        }
        // Only --set adds up; any other option given twice would leave one of its values
        // unused without a word (a render written to one of two outputs).
        const std::string once = name == "--preset" ? "--state" : name;
        if (once != "--set" && !seen.insert(once).second)
            return name == once ? name + " is given twice" : "--state and --preset are given together";

        if (name == "--plugin") {
            o.plugin = value;
        } else if (name == "--input") {
            o.input = value;
        } else if (name == "--input-a") {
            o.inputA = value;
        } else if (name == "--input-b") {
            o.inputB = value;
        } else if (name == "--state" || name == "--preset") {
            o.state = value;
        } else if (name == "--sample") {
            o.sample = value;
        } else if (name == "--save-preset") {
            o.savePreset = value;
        } else if (name == "--midi") {
            o.midi = value;
        } else if (name == "--output") {
            o.output = value;
        } else if (name == "--format") {
            if (value == "float") {
                o.format = kf::host::SampleFormat::Float32;
            } else if (value == "pcm24") {
                o.format = kf::host::SampleFormat::Pcm24;
            } else {
                return "--format must be float or pcm24, not '" + value + "'";
            }
        } else if (name == "--length") {
            const auto v = parseReal(value);
            if (!v || *v <= 0.0 || *v > kMaxLengthSeconds)
                return "--length must be a number of seconds above 0 and at most 86400, not '" + value + "'";
            o.lengthSeconds = *v;
        } else if (name == "--sample-rate") {
            const auto v = parseInteger(value);
            if (!v || *v < kf::kLowestSampleRate || *v > kf::kHighestSampleRate)
                return "--sample-rate must be a whole number of Hz from " +
                       std::to_string(kf::kLowestSampleRate) + " to " +
                       std::to_string(kf::kHighestSampleRate) + ", not '" + value + "'";
            o.sampleRate = static_cast<int>(*v);
        } else if (name == "--block-size") {
            const auto v = parseInteger(value);
            if (!v || *v < 1 || *v > kf::host::kMaxBlockSize)
                return "--block-size must be a whole number from 1 to " +
                       std::to_string(kf::host::kMaxBlockSize) + ", not '" + value + "'";
            o.blockSize = static_cast<int>(*v);
        } else if (name == "--tempo") {
            const auto v = parseReal(value);
            if (!v || *v <= 0.0 || *v > 1000.0)
                return "--tempo must be a number of beats per minute above 0 and at most 1000, not '" +
                       value + "'";
            o.tempo = *v;
        } else if (name == "--set") {
            o.sets.push_back(value);
        } else if (name == "--editor-script") {
            o.editorScript = value;
        } else if (name == "--editor-shot") {
            o.editorShot = value;
        } else {
            return "unknown option " + name;
        }
    }

    if (positional.size() > 1 || (positional.size() == 1 && !o.plugin.empty()))
        return "give exactly one plug-in (extra argument '" + positional.back() + "')";
    if (positional.size() == 1) o.plugin = positional[0];
    if (o.help) return std::nullopt;
    if (!o.savePreset.empty()) o.savePreset = kf::withDefaultExtension(o.savePreset, kf::kPresetExtension);
    if (o.plugin.empty()) return "no plug-in given";
    if (!o.input.empty() && (!o.inputA.empty() || !o.inputB.empty()))
        return "--input cannot be combined with --input-a or --input-b";
    const int editorModes = int(o.showEditor) + int(!o.editorScript.empty()) + int(!o.editorShot.empty());
    if (editorModes > 1) return "choose one of --show-editor, --editor-script and --editor-shot";
    if (editorModes == 1) {
        const std::string mode = o.showEditor             ? "--show-editor"
                                 : o.editorScript.empty() ? "--editor-shot"
                                                          : "--editor-script";
        for (const auto& [given, name] : {std::pair{o.info, "--info"},
                                          {!o.output.empty(), "--output"},
                                          {!o.midi.empty(), "--midi"},
                                          {!o.savePreset.empty(), "--save-preset"},
                                          {o.lengthSeconds.has_value(), "--length"}})
            if (given) return std::string(name) + " cannot be combined with " + mode;
        return std::nullopt;
    }
    if (o.info) {
        if (!o.output.empty()) return "--info cannot be combined with --output";
        if (!o.midi.empty()) return "--info cannot be combined with --midi";
        return std::nullopt;
    }
    if (o.output.empty() && !o.savePreset.empty()) return std::nullopt;
    if (o.output.empty()) return "no --output file given (or use --info or --save-preset)";
    const auto container = kf::host::containerForPath(o.output);
    if (!container)
        return "cannot tell the type of --output " + o.output +
               " from its extension; use .wav, .aif, .aiff, "
               ".flac, .ogg or .oga";
    o.container = *container;
    if (o.input.empty() && o.inputA.empty() && o.inputB.empty() && o.midi.empty() && !o.lengthSeconds)
        return "no input, no --midi and no --length: nothing to render";
    return std::nullopt;
}

// A file the tool writes must not be one it reads: the render would replace its own
// recording, a preset would be saved over a WAV file. Names are compared as files (device
// and inode), so neither a link nor another spelling of the path gets past.
std::optional<std::string> findOutputThatIsAnInput(const Options& o) {
    using Named = std::pair<const char*, const std::string*>;
    const Named outputs[] = {
        {"--output", &o.output}, {"--save-preset", &o.savePreset}, {"--editor-shot", &o.editorShot}};
    const Named inputs[] = {{"--input", &o.input},
                            {"--input-a", &o.inputA},
                            {"--input-b", &o.inputB},
                            {"--midi", &o.midi},
                            {"--state", &o.state},
                            {"--sample", &o.sample},
                            {"--editor-script", &o.editorScript},
                            {"the plug-in", &o.plugin}};
    for (std::size_t i = 0; i < std::size(outputs); ++i) {
        const auto& [option, path] = outputs[i];
        for (const auto& [inputOption, input] : inputs)
            if (kf::platform::sameFile(*path, *input))
                return std::string(option) + " " + *path + " is the same file as " + inputOption + " " +
                       *input + "; choose another file to write";
        for (std::size_t j = 0; j < i; ++j)
            if (kf::platform::sameFile(*path, *outputs[j].second) ||
                (!path->empty() && *path == *outputs[j].second))
                return std::string(outputs[j].first) + " and " + option + " name the same file " + *path;
    }
    return std::nullopt;
}

// Kestrafone keeps its sample by reference in its state chunk, under the parameter record
// with identifier 33: magic, version, frame count, embedded flag, start and end markers,
// loop flag, then (for a non-zero frame count) the path as a length-prefixed string.
struct SamplerRecord {
    std::size_t at = 0;  // word index of the record's identifier
    int32_t frames = 0;
    std::string path;
};

std::vector<int32_t> chunkWords(const std::vector<uint8_t>& bytes) {
    std::vector<int32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), words.size() * 4);
    return words;
}

std::optional<SamplerRecord> findSamplerRecord(const std::vector<int32_t>& words) {
    constexpr int32_t kSamplerId = 33, kEndOfParameters = -1;
    constexpr std::size_t kFirstRecord = 9, kHeadWords = 7;
    std::size_t at = kFirstRecord;
    while (at + 1 < words.size() && words[at] != kEndOfParameters && words[at] != kSamplerId)
        at += 2 + static_cast<std::size_t>(std::max(words[at + 1], 0));
    if (words.size() < kFirstRecord || at + 1 >= words.size() || words[at] != kSamplerId) return std::nullopt;
    SamplerRecord record;
    record.at = at;
    const std::size_t body = at + 2, length = static_cast<std::size_t>(std::max(words[at + 1], 0));
    if (length < kHeadWords || body + length > words.size()) return record;
    record.frames = words[body + 2];
    if (record.frames != 0 && length > kHeadWords) {
        const auto bytes = static_cast<std::size_t>(std::max(words[body + kHeadWords], 0));
        if (bytes <= (length - kHeadWords - 1) * 4)
            record.path.assign(reinterpret_cast<const char*>(&words[body + kHeadWords + 1]), bytes);
    }
    return record;
}

struct Failure {
    int code;
    std::string message;
};

// Loads a sample the way a host restoring a project would: take the chunk, put a record
// naming the file in place of the sampler's, and hand the chunk back. The frame count
// given is one no file can have; a load replaces it with the file's own, a failed load
// keeps it, which is how the state tells the two apart.
std::optional<Failure> loadSample(Plugin& plugin, const std::string& file) {
    constexpr uint32_t kRecordMagic = 0xE6D0324Au;
    constexpr int32_t kNotLoaded = std::numeric_limits<int32_t>::max();
    std::error_code ec;
    const std::string path = std::filesystem::absolute(file, ec).string();
    std::string error;
    const int fd = ec ? -1 : kf::platform::openRegularFile(path, std::numeric_limits<uint64_t>::max(), error);
    if (fd < 0) return Failure{kExitFile, "cannot read the sample file: " + (ec ? file : error)};
    ::close(fd);
    std::vector<int32_t> words = chunkWords(plugin.getChunk());
    const auto found = findSamplerRecord(words);
    if (!found) return Failure{kExitPlugin, "the plug-in's state holds no sampler record; is it Kestrafone?"};
    const std::size_t at = found->at;
    // Not embedded, markers 0 and 0, no loop.
    std::vector<int32_t> record = {static_cast<int32_t>(kRecordMagic), 1, kNotLoaded, 0, 0, 0, 0,
                                   static_cast<int32_t>(path.size())};
    const std::size_t textWords = (path.size() + 3) / 4;
    const std::size_t first = record.size();
    record.resize(first + textWords, 0);
    std::memcpy(record.data() + first, path.data(), path.size());
    const std::size_t oldLength = static_cast<std::size_t>(words[at + 1]);
    words[at + 1] = static_cast<int32_t>(record.size());
    words.erase(words.begin() + static_cast<std::ptrdiff_t>(at + 2),
                words.begin() + static_cast<std::ptrdiff_t>(at + 2 + oldLength));
    words.insert(words.begin() + static_cast<std::ptrdiff_t>(at + 2), record.begin(), record.end());
    words[0] = static_cast<int32_t>(words.size());
    std::vector<uint8_t> chunk(words.size() * 4);
    std::memcpy(chunk.data(), words.data(), chunk.size());
    // The plug-in accepts a state whose sample it cannot read (as for a project whose
    // sample went missing), so its answer alone does not tell.
    if (plugin.setChunk(chunk) == 0)
        return Failure{kExitPlugin, "the plug-in did not accept the sample " + file};
    const auto after = findSamplerRecord(chunkWords(plugin.getChunk()));
    if (!after || after->frames == kNotLoaded || after->frames == 0)
        return Failure{kExitFile, "the plug-in could not load " + file +
                                      " as a sample (a 16- or 24-bit PCM WAV or "
                                      "AIFF file, mono or stereo)"};
    return std::nullopt;
}

// A restored state that names a sample file that is gone renders with an empty sampler,
// as a host would; say which file.
void warnAboutMissingSample(Plugin& plugin) {
    const auto record = findSamplerRecord(chunkWords(plugin.getChunk()));
    if (!record || record->path.empty() || record->path == "empty") return;
    std::string error;
    const int fd = kf::platform::openRegularFile(record->path, std::numeric_limits<uint64_t>::max(), error);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    std::fprintf(
        stderr,
        "kestrafone-render: warning: the state's sample file is not there (%s); the sampler is empty\n",
        error.c_str());
}

// Writes the plug-in's chunk to path; an existing file is replaced only by a complete one.
std::optional<std::string> saveState(Plugin& plugin, const std::string& path) {
    if (!(plugin.flags() & vst::effFlagsProgramChunks))
        return "the plug-in does not save its state as a chunk";
    // Name the state after its file, as loading a preset file does (within the 24 bytes
    // hosts give program names).
    std::string title = std::filesystem::path(path).stem().string().substr(0, 23);
    plugin.dispatch(vst::effSetProgramName, 0, 0, title.data());
    const std::vector<uint8_t> chunk = plugin.getChunk();
    if (chunk.empty()) return "the plug-in gave an empty state";
    std::string error;
    if (!kf::platform::replaceFile(path, chunk, error)) return error;
    return std::nullopt;
}

// Resolves each NAME=VALUE against the plug-in's parameter names and applies it.
std::optional<std::string> applySets(Plugin& plugin, const std::vector<std::string>& sets) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < plugin.numParams(); ++i) names.push_back(plugin.parameterName(i));

    for (const std::string& set : sets) {
        const auto eq = set.rfind('=');
        if (eq == std::string::npos || eq == 0) return "--set needs NAME=VALUE, not '" + set + "'";
        const std::string name = set.substr(0, eq), text = set.substr(eq + 1);
        const auto value = parseReal(text);
        if (!value || *value < 0.0 || *value > 1.0)
            return "--set " + name + ": the value must be a normalised number from 0 to 1, not '" + text +
                   "'";

        std::vector<int32_t> matches;
        if (const auto index = parseInteger(name)) {
            if (*index < 0 || *index >= plugin.numParams())
                return "--set: parameter index " + name + " is outside 0.." +
                       std::to_string(plugin.numParams() - 1);
            matches.push_back(static_cast<int32_t>(*index));
        } else {
            for (std::size_t i = 0; i < names.size(); ++i)
                if (names[i] == name) matches.push_back(static_cast<int32_t>(i));
        }
        if (matches.empty())
            return "--set: the plug-in has no parameter named '" + name + "' (--info lists them)";
        if (matches.size() > 1) {
            std::string list;
            for (const int32_t m : matches) list += (list.empty() ? "" : ", ") + std::to_string(m);
            return "--set: the parameter name '" + name + "' is ambiguous; it names indices " + list +
                   "; use the index instead (e.g. --set " + std::to_string(matches[0]) + "=" + text + ")";
        }
        plugin.setParameter(matches[0], static_cast<float>(*value));
    }
    return std::nullopt;
}

void printInfo(Plugin& plugin) {
    static constexpr const char* kCategories[] = {"Unknown",     "Effect",         "Synth",  "Analysis",
                                                  "Mastering",   "Spacializer",    "RoomFx", "SurroundFx",
                                                  "Restoration", "OfflineProcess", "Shell",  "Generator"};
    static constexpr std::pair<int32_t, const char*> kFlags[] = {{1 << 0, "HasEditor"},
                                                                 {1 << 1, "HasClip"},
                                                                 {1 << 2, "HasVu"},
                                                                 {1 << 3, "CanMono"},
                                                                 {1 << 4, "CanReplacing"},
                                                                 {1 << 5, "ProgramChunks"},
                                                                 {1 << 8, "IsSynth"},
                                                                 {1 << 9, "NoSoundInStop"},
                                                                 {1 << 10, "ExtIsAsync"},
                                                                 {1 << 11, "ExtHasBuffer"},
                                                                 {1 << 12, "CanDoubleReplacing"}};
    static constexpr const char* kCanDo[] = {"receiveVstEvents",   "receiveVstMidiEvent",
                                             "receiveVstTimeInfo", "sendVstEvents",
                                             "sendVstMidiEvent",   "offline",
                                             "midiProgramNames",   "bypass",
                                             "hasAboutScreen"};

    const int32_t category = plugin.category();
    std::string flags;
    for (const auto& [bit, name] : kFlags)
        if (plugin.flags() & bit) flags += std::string(flags.empty() ? "" : " ") + name;

    std::printf("Plug-in:        %s\n", plugin.path().c_str());
    std::printf("Entry point:    %s\n", plugin.entryName().c_str());
    std::printf("Effect name:    %s\n", plugin.effectName().c_str());
    std::printf("Vendor:         %s\n", plugin.vendorString().c_str());
    std::printf("Product:        %s\n", plugin.productString().c_str());
    std::printf("Vendor version: %d\n", plugin.vendorVersion());
    std::printf("VST version:    %d\n", plugin.vstVersion());
    std::printf("Category:       %d (%s)\n", category,
                category >= 0 && category < 12 ? kCategories[category] : "not a known category");
    std::printf("Unique ID:      '%s' (0x%08x)\n", kf::host::fourCharCode(plugin.uniqueId()).c_str(),
                static_cast<uint32_t>(plugin.uniqueId()));
    std::printf("Inputs:         %d\n", plugin.numInputs());
    std::printf("Outputs:        %d\n", plugin.numOutputs());
    std::printf("Parameters:     %d\n", plugin.numParams());
    std::printf("Programs:       %d\n", plugin.numPrograms());
    std::printf("Initial delay:  %d\n", plugin.initialDelay());
    std::printf("Flags:          0x%x (%s)\n", static_cast<uint32_t>(plugin.flags()), flags.c_str());
    std::printf("Can do:\n");
    for (const char* what : kCanDo) {
        const int32_t a = plugin.canDo(what);
        std::printf("  %-22s %s\n", what, a > 0 ? "yes" : a < 0 ? "no" : "don't know");
    }
    std::printf("Parameters (index, name, display, label):\n");
    for (int32_t i = 0; i < plugin.numParams(); ++i)
        std::printf("  %4d  %-20s %s %s\n", i, plugin.parameterName(i).c_str(),
                    plugin.parameterDisplay(i).c_str(), plugin.parameterLabel(i).c_str());
}

class ProgressBar {
  public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    // Ends an interrupted bar's line, so that an error message starts on its own line.
    void end() {
        if (enabled_ && last_ >= 0 && last_ < 100) std::fputc('\n', stderr);
    }
    void update(int64_t done, int64_t total) {
        if (!enabled_ || total <= 0) return;
        const int percent = static_cast<int>(done * 100 / total);
        if (percent == last_) return;
        last_ = percent;
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(), percent);
        if (done >= total) std::fputc('\n', stderr);
        std::fflush(stderr);
    }

  private:
    bool enabled_;
    int last_ = -1;
};

// The three editor modes: the plug-in is loaded and set up; an audio thread feeds it
// while the editor is shown, scripted or captured on this thread.
int runEditor(const Options& o, Plugin& plugin, std::vector<std::vector<float>> inputs, int sampleRate,
              const kf::host::EditorScript& script) {
    kf::host::RenderSettings settings;
    settings.sampleRate = sampleRate;
    settings.blockSize = o.blockSize;
    settings.tempo = o.tempo.value_or(120.0);
    kf::host::AudioFeed feed(plugin, std::move(inputs), settings);
    // Only the shown editor looks for a stop request; a script or a capture ends at once.
    if (!o.showEditor) {
        kf::host::uncatchStopSignals();
        if (kf::host::stopSignal() != 0) return kExitFile;
    }
    feed.start();

    if (!o.editorScript.empty()) {
        using Result = kf::host::WindowScriptOutcome::Result;
        const auto outcome = kf::host::playScriptInWindow(plugin, feed, script);
        for (const std::string& note : outcome.notes)
            std::fprintf(stderr, "kestrafone-render: note: %s: %s\n", o.editorScript.c_str(), note.c_str());
        const int code = outcome.result == Result::NoDisplay      ? kExitNoDisplay
                         : outcome.result == Result::EditorFailed ? kExitPlugin
                                                                  : kExitScript;
        if (outcome.result != Result::Passed) return fail(code, o.editorScript + ": " + outcome.message);
        if (!o.quiet) std::printf("Played %s: %d steps passed\n", o.editorScript.c_str(), outcome.stepsRun);
        return kExitOk;
    }

    std::string error;
    kf::host::EditorWindow::OpenFailure why;
    auto window = kf::host::EditorWindow::open(plugin, error, {}, &why);
    if (!window)
        return fail(why == kf::host::EditorWindow::OpenFailure::NoDisplay ? kExitNoDisplay : kExitPlugin,
                    error);
    if (!o.editorShot.empty()) {
        window->idleFor(kShotDelay);
        if (!window->capture(o.editorShot, error)) return fail(kExitFile, error);
        if (!o.quiet)
            std::printf("Captured the editor (%d x %d) to %s\n", window->width(), window->height(),
                        o.editorShot.c_str());
        return kExitOk;
    }

    if (!o.quiet)
        std::fprintf(stderr,
                     "Showing the editor of %s (%d x %d); close its window or press Ctrl-C to quit.\n",
                     o.plugin.c_str(), window->width(), window->height());
    while (kf::host::stopSignal() == 0 && !window->closeRequested()) {
        window->idle();
        std::this_thread::sleep_for(kf::host::kEditorIdlePeriod);
    }
    return kExitOk;
}

void printWarning(const std::string& text) {
    std::fprintf(stderr, "kestrafone-render: warning: %s\n", text.c_str());
}

// Below this peak (-90 dBFS, the smallest step of a 16-bit file) a render holds nothing
// anyone will hear, which is worth a word: a carrier that is missing or ends early, a MIDI
// file on the wrong channel.
constexpr float kSilentPeak = 3.1623e-5f;

int run(int argc, char** argv) {
    Options o;
    if (const auto error = parseArguments(argc, argv, o)) return fail(kExitUsage, *error);
    if (o.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (const auto error = findOutputThatIsAnInput(o)) return fail(kExitUsage, *error);

    const bool editorMode = o.showEditor || !o.editorScript.empty() || !o.editorShot.empty();
    kf::host::RenderInputs in;
    if ((!o.info && !o.output.empty()) || editorMode) {
        if (const auto error = in.open(o.input, o.inputA, o.inputB)) return fail(kExitFile, *error);
    }
    for (const std::string& warning : in.takeWarnings()) printWarning(warning);
    int sampleRate = o.sampleRate.value_or(in.present() ? in.sampleRate() : 44100);
    if (in.present() && in.sampleRate() != sampleRate)
        return fail(kExitFile, "the input is at " + std::to_string(in.sampleRate()) +
                                   " Hz but --sample-rate is " + std::to_string(sampleRate) +
                                   " Hz; resampling is not supported");
    if (sampleRate < kf::kLowestSampleRate || sampleRate > kf::kHighestSampleRate)
        return fail(kExitFile, "the input is at " + std::to_string(sampleRate) + " Hz; Kestrafone runs at " +
                                   std::to_string(kf::kLowestSampleRate) + " to " +
                                   std::to_string(kf::kHighestSampleRate) +
                                   " Hz and would play it off pitch. Resample it first (e.g. sox IN.wav -r "
                                   "44100 OUT.wav)");

    std::string error;
    std::vector<uint8_t> state;
    if (!o.state.empty()) {
        if (!kf::platform::readRegularFile(o.state, kMaxStateBytes, state, error))
            return fail(kExitFile, "cannot read the state: " + error);
        if (state.empty()) return fail(kExitFile, "the state file " + o.state + " is empty");
    }
    kf::host::EditorScript script;
    if (!o.editorScript.empty()) {
        std::vector<uint8_t> text;
        if (!kf::platform::readRegularFile(o.editorScript, kMaxScriptBytes, text, error))
            return fail(kExitFile, "cannot read the editor script: " + error);
        auto parsed = kf::host::parseEditorScript(
            std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), error);
        if (!parsed) return fail(kExitFile, o.editorScript + ": " + error);
        script = std::move(*parsed);
    }
    kf::host::MidiFileContents midi;
    if (!o.midi.empty() && !kf::host::readMidiFile(o.midi, sampleRate, o.tempo, midi, error))
        return fail(kExitFile, error);

    auto plugin = Plugin::load(o.plugin, {}, error);
    if (!plugin) return fail(kExitPlugin, error);
    if (plugin->numOutputs() < 1 || plugin->numOutputs() > kf::host::kMaxChannels ||
        plugin->numInputs() < 0 || plugin->numInputs() > kf::host::kMaxChannels)
        return fail(kExitPlugin, o.plugin + " reports " + std::to_string(plugin->numInputs()) +
                                     " inputs and " + std::to_string(plugin->numOutputs()) +
                                     " outputs; cannot render through it");

    // Hosts set the rate and block size right after opening; state and parameters come after.
    plugin->setSampleRate(sampleRate);
    plugin->setBlockSize(o.blockSize);
    if (!o.state.empty()) {
        if (!(plugin->flags() & vst::effFlagsProgramChunks))
            return fail(kExitPlugin,
                        o.plugin + " does not take its state as a chunk; --state cannot restore it");
        // The plug-in's answer is the only sign of success: a state it ignored would render
        // with the wrong settings.
        if (plugin->setChunk(state) == 0)
            return fail(kExitPlugin, o.plugin + " did not accept the state in " + o.state);
        warnAboutMissingSample(*plugin);
    }
    if (const auto setError = applySets(*plugin, o.sets)) return fail(kExitUsage, *setError);

    if (!o.sample.empty()) {
        if (const auto failure = loadSample(*plugin, o.sample)) return fail(failure->code, failure->message);
    }
    if (!o.savePreset.empty()) {
        if (const auto saveError = saveState(*plugin, o.savePreset)) return fail(kExitFile, *saveError);
        if (o.output.empty()) return kExitOk;
    }
    if (o.info) {
        printInfo(*plugin);
        return kExitOk;
    }
    if (editorMode) return runEditor(o, *plugin, in.readAll(), sampleRate, script);

    // Without --length the render ends with the longest input, or the MIDI file and its tail,
    // whichever lasts longer; an input that turns out to be cut short ends it sooner.
    int64_t midiFrames = 0;
    if (!o.midi.empty()) {
        // Play the whole file, and long enough after its last event for releases and tails.
        midiFrames =
            midi.lastEventFrame + 1 + static_cast<int64_t>(std::llround(kMidiTailSeconds * sampleRate));
        if (!o.lengthSeconds && static_cast<double>(midiFrames) > kMaxLengthSeconds * sampleRate)
            return fail(kExitFile, "the MIDI file " + o.midi + " lasts " +
                                       std::to_string(static_cast<double>(midi.lastEventFrame) / sampleRate) +
                                       " s; give a --length of at most 86400 s to render part of it");
    }
    const int64_t frames = o.lengthSeconds ? static_cast<int64_t>(std::llround(*o.lengthSeconds * sampleRate))
                                           : std::max(in.declaredFrames(), midiFrames);
    const auto endOfRender = [&] {
        return o.lengthSeconds ? frames : std::max(in.knownFrames(), midiFrames);
    };
    if (!o.midi.empty() && midi.events.empty())
        std::fprintf(stderr, "kestrafone-render: warning: the MIDI file %s holds no channel messages\n",
                     o.midi.c_str());
    const int outputs = plugin->numOutputs();
    kf::host::AudioFileWriter writer;
    if (!writer.open(o.output, sampleRate, outputs, o.container, o.format, error))
        return fail(kExitFile, error);

    kf::host::RenderSettings settings;
    settings.sampleRate = sampleRate;
    settings.blockSize = o.blockSize;
    settings.tempo = o.tempo.value_or(120.0);
    settings.tempoMap = midi.tempoMap;

    auto source = [&](int64_t, std::span<float* const> channels, int32_t n) { in.read(channels, n); };
    // Non-finite samples would turn into full-scale garbage in an integer file; they are
    // written as silence and reported.
    int64_t nonFinite = 0, written = 0;
    float peak = 0.0f;
    bool endedWithInput = false;
    std::vector<std::vector<float>> scratch(static_cast<std::size_t>(outputs),
                                            std::vector<float>(static_cast<std::size_t>(o.blockSize)));
    std::vector<const float*> scratchPtr;
    for (const auto& c : scratch) scratchPtr.push_back(c.data());
    auto sink = [&](std::span<const float* const> channels, int32_t n, std::string& sinkError) {
        if (kf::host::stopSignal() != 0) {
            sinkError = std::string("stopped by ") + kf::host::stopSignalName();
            return false;
        }
        const int64_t end = endOfRender();
        const auto keep = static_cast<int32_t>(std::clamp<int64_t>(end - written, 0, n));
        for (std::size_t c = 0; c < channels.size(); ++c)
            for (int32_t f = 0; f < keep; ++f) {
                const float v = channels[c][f];
                const bool finite = std::isfinite(v);
                nonFinite += finite ? 0 : 1;
                scratch[c][static_cast<std::size_t>(f)] = finite ? v : 0.0f;
                peak = std::max(peak, finite ? std::fabs(v) : 0.0f);
            }
        written += keep;
        if (!writer.write(scratchPtr, keep, sinkError)) return false;
        endedWithInput = written >= end && end < frames;
        return !endedWithInput;
    };
    ProgressBar bar(!o.quiet && isatty(STDERR_FILENO));
    const bool ok = kf::host::renderStream(*plugin, frames, settings, midi.events, source, sink, error,
                                           [&](int64_t done, int64_t total) { bar.update(done, total); });
    bar.end();
    for (const std::string& warning : in.takeWarnings()) printWarning(warning);
    // A failed render leaves whatever file was there before; a partial one would pass for a result.
    if (kf::host::stopSignal() != 0)
        return fail(kExitFile, std::string("stopped by ") + kf::host::stopSignalName() +
                                   "; nothing was written to " + o.output);
    if ((!ok && !endedWithInput) || !writer.close(error)) return fail(kExitFile, error);
    if (nonFinite > 0)
        std::fprintf(
            stderr,
            "kestrafone-render: warning: the plug-in produced %lld non-finite samples; written as 0\n",
            static_cast<long long>(nonFinite));
    if (peak < kSilentPeak) printWarning("the output " + o.output + " is silent (no sample above -90 dBFS)");
    // Events at or after the end are not sent; say so when that cuts the file short.
    const auto sent = std::count_if(midi.events.begin(), midi.events.end(),
                                    [&](const kf::host::TimedMidiEvent& e) { return e.frame < written; });
    if (static_cast<std::size_t>(sent) < midi.events.size())
        std::fprintf(
            stderr, "kestrafone-render: warning: %zu MIDI events after the end of the render were not sent\n",
            midi.events.size() - static_cast<std::size_t>(sent));
    if (!o.quiet) {
        std::printf("Rendered %.3f s (%lld frames, %d channels, %d Hz) to %s\n",
                    static_cast<double>(written) / sampleRate, static_cast<long long>(written), outputs,
                    sampleRate, o.output.c_str());
        if (!o.midi.empty())
            std::printf("Sent %lld MIDI events from %s\n", static_cast<long long>(sent), o.midi.c_str());
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    kf::host::catchStopSignals();
    const int code = run(argc, argv);
    // Asked to stop, the tool has left every file as it was (everything it owned is gone by
    // now); it ends as the signal would have ended it.
    if (code != kExitOk && kf::host::stopSignal() != 0) kf::host::endAsStopSignalAsked();
    return code;
}
