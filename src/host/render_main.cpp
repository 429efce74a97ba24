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
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/audio_feed.h"
#include "host/audio_file.h"
#include "host/editor_script.h"
#include "host/editor_window.h"
#include "host/midi_file.h"
#include "host/render.h"
#include "host/vst_host.h"
#include "host/window_script.h"
#include "platform/safe_files.h"

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
                       of A and B is padded with silence
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
  --sample-rate HZ     default: the input's rate, else 44100; inputs at another
                       rate are refused (no resampling)
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
                       chunk, byte for byte) to FILE; without --output nothing
                       is rendered
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

Every FILE must be a regular file (or, for files written, a new one).

Exit codes: 0 success, 1 usage error (bad option, value or parameter name),
2 input/output file error (including a --sample the plug-in could not load, a
bad editor script or a capture that could not be written), 3 plug-in load or
interface error (also: no editor, or it would not open), 4 an editor script
step failed (an expectation not met), 5 no X display or no xdotool.
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
            if (!v || *v < 1000 || *v > 768000)
                return "--sample-rate must be a whole number of Hz from 1000 to 768000, not '" + value + "'";
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

struct Inputs {
    AudioData audio;  // channel 0 = A, channel 1 = B
    bool present = false;
};

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

// Reads the input files into two equally long channels. Returns an error message.
std::optional<std::string> readInputs(const Options& o, Inputs& in) {
    AudioData& a = in.audio;
    std::string error;
    std::string warning;
    const auto warnIfShort = [&warning] {
        if (!warning.empty()) std::fprintf(stderr, "kestrafone-render: warning: %s\n", warning.c_str());
        warning.clear();
    };
    if (!o.input.empty()) {
        if (!kf::host::readAudioFile(o.input, a, error, &warning)) return error;
        warnIfShort();
        if (a.channels.size() > 2)
            return o.input + " has " + std::to_string(a.channels.size()) +
                   " channels; --input takes a mono or stereo file";
        if (a.channels.size() == 1) a.channels.push_back(a.channels[0]);
        in.present = true;
        return std::nullopt;
    }
    a.channels.assign(2, {});
    for (int side = 0; side < 2; ++side) {
        const std::string& path = side == 0 ? o.inputA : o.inputB;
        if (path.empty()) continue;
        AudioData file;
        if (!kf::host::readAudioFile(path, file, error, &warning)) return error;
        warnIfShort();
        if (file.channels.size() != 1)
            return path + " has " + std::to_string(file.channels.size()) + " channels; --input-" +
                   (side == 0 ? "a" : "b") + " takes a mono file (use --input for a stereo file)";
        if (in.present && file.sampleRate != a.sampleRate)
            return o.inputA + " is at " + std::to_string(a.sampleRate) + " Hz but " + path + " is at " +
                   std::to_string(file.sampleRate) + " Hz; resampling is not supported";
        a.sampleRate = file.sampleRate;
        a.channels[static_cast<std::size_t>(side)] = std::move(file.channels[0]);
        in.present = true;
    }
    const std::size_t frames = std::max(a.channels[0].size(), a.channels[1].size());
    for (auto& c : a.channels) c.resize(frames, 0.0f);
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

volatile std::sig_atomic_t gInterrupted = 0;

// The three editor modes: the plug-in is loaded and set up; an audio thread feeds it
// while the editor is shown, scripted or captured on this thread.
int runEditor(const Options& o, Plugin& plugin, const Inputs& in, int sampleRate,
              const kf::host::EditorScript& script) {
    kf::host::RenderSettings settings;
    settings.sampleRate = sampleRate;
    settings.blockSize = o.blockSize;
    settings.tempo = o.tempo.value_or(120.0);
    kf::host::AudioFeed feed(plugin, in.present ? in.audio.channels : std::vector<std::vector<float>>{},
                             settings);
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

    struct sigaction action {};
    action.sa_handler = [](int) { gInterrupted = 1; };
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    if (!o.quiet)
        std::fprintf(stderr,
                     "Showing the editor of %s (%d x %d); close its window or press Ctrl-C to quit.\n",
                     o.plugin.c_str(), window->width(), window->height());
    while (!gInterrupted && !window->closeRequested()) {
        window->idle();
        std::this_thread::sleep_for(kf::host::kEditorIdlePeriod);
    }
    return kExitOk;
}

int run(int argc, char** argv) {
    Options o;
    if (const auto error = parseArguments(argc, argv, o)) return fail(kExitUsage, *error);
    if (o.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }

    const bool editorMode = o.showEditor || !o.editorScript.empty() || !o.editorShot.empty();
    Inputs in;
    if ((!o.info && !o.output.empty()) || editorMode) {
        if (const auto error = readInputs(o, in)) return fail(kExitFile, *error);
    }
    int sampleRate = o.sampleRate.value_or(in.present ? in.audio.sampleRate : 44100);
    if (in.present && in.audio.sampleRate != sampleRate)
        return fail(kExitFile, "the input is at " + std::to_string(in.audio.sampleRate) +
                                   " Hz but --sample-rate is " + std::to_string(sampleRate) +
                                   " Hz; resampling is not supported");

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
    if (editorMode) return runEditor(o, *plugin, in, sampleRate, script);

    int64_t frames = in.audio.frames();
    if (o.lengthSeconds) {
        frames = static_cast<int64_t>(std::llround(*o.lengthSeconds * sampleRate));
    } else if (!o.midi.empty()) {
        // Play the whole file, and long enough after its last event for releases and tails.
        const int64_t midiFrames =
            midi.lastEventFrame + 1 + static_cast<int64_t>(std::llround(kMidiTailSeconds * sampleRate));
        if (static_cast<double>(midiFrames) > kMaxLengthSeconds * sampleRate)
            return fail(kExitFile, "the MIDI file " + o.midi + " lasts " +
                                       std::to_string(static_cast<double>(midi.lastEventFrame) / sampleRate) +
                                       " s; give a --length of at most 86400 s to render part of it");
        frames = std::max(frames, midiFrames);
    }
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

    auto source = [&](int64_t pos, std::span<float* const> channels, int32_t n) {
        for (std::size_t c = 0; c < channels.size() && c < in.audio.channels.size(); ++c) {
            const auto& src = in.audio.channels[c];
            if (pos < static_cast<int64_t>(src.size()))
                std::copy_n(src.begin() + pos, std::min<int64_t>(n, static_cast<int64_t>(src.size()) - pos),
                            channels[c]);
        }
    };
    // Non-finite samples would turn into full-scale garbage in an integer file; they are
    // written as silence and reported.
    int64_t nonFinite = 0;
    std::vector<std::vector<float>> scratch(static_cast<std::size_t>(outputs),
                                            std::vector<float>(static_cast<std::size_t>(o.blockSize)));
    std::vector<const float*> scratchPtr;
    for (const auto& c : scratch) scratchPtr.push_back(c.data());
    auto sink = [&](std::span<const float* const> channels, int32_t n, std::string& sinkError) {
        for (std::size_t c = 0; c < channels.size(); ++c)
            for (int32_t f = 0; f < n; ++f) {
                const float v = channels[c][f];
                const bool finite = std::isfinite(v);
                nonFinite += finite ? 0 : 1;
                scratch[c][static_cast<std::size_t>(f)] = finite ? v : 0.0f;
            }
        return writer.write(scratchPtr, n, sinkError);
    };
    ProgressBar bar(!o.quiet && isatty(STDERR_FILENO));
    const bool ok = kf::host::renderStream(*plugin, frames, settings, midi.events, source, sink, error,
                                           [&](int64_t done, int64_t total) { bar.update(done, total); });
    bar.end();
    // A failed render leaves whatever file was there before; a partial one would pass for a result.
    if (!ok || !writer.close(error)) return fail(kExitFile, error);
    if (nonFinite > 0)
        std::fprintf(
            stderr,
            "kestrafone-render: warning: the plug-in produced %lld non-finite samples; written as 0\n",
            static_cast<long long>(nonFinite));
    // Events at or after the end are not sent; say so when that cuts the file short.
    const auto sent = std::count_if(midi.events.begin(), midi.events.end(),
                                    [&](const kf::host::TimedMidiEvent& e) { return e.frame < frames; });
    if (static_cast<std::size_t>(sent) < midi.events.size())
        std::fprintf(
            stderr, "kestrafone-render: warning: %zu MIDI events after the end of the render were not sent\n",
            midi.events.size() - static_cast<std::size_t>(sent));
    if (!o.quiet) {
        std::printf("Rendered %.3f s (%lld frames, %d channels, %d Hz) to %s\n",
                    static_cast<double>(frames) / sampleRate, static_cast<long long>(frames), outputs,
                    sampleRate, o.output.c_str());
        if (!o.midi.empty())
            std::printf("Sent %lld MIDI events from %s\n", static_cast<long long>(sent), o.midi.c_str());
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    return run(argc, argv);
}
