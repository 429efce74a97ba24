#include "host/render_tool_options.h"

#include <charconv>
#include <cmath>
#include <set>
#include <string_view>

#include "common/sample_rate_range.h"
#include "host/render.h"
#include "platform/file_identity.h"
#include "state/paths.h"

namespace kf::host {

const char* const kRenderUsage = R"(Usage: kestrafone-render [options] PLUGIN.so
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

The plug-in's editor, in a window of the desktop (an X11 window on $DISPLAY on
Linux), while an audio thread feeds it the input (looped) or silence in real
time; --output and --midi do not apply:
  --show-editor        open the editor for you; quits when you close the window
                       or press Ctrl-C
  --editor-script FILE play an editor event script: pointer steps are sent as
                       input (with xdotool on Linux), 'process N' waits for N frames of audio, 'expect'
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
step failed (an expectation not met), 5 no X display or no xdotool (Linux), or no
window could be made. A render
stopped by a signal ends as that signal ends a program.
)";

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

namespace {

using Complaint = std::optional<std::string>;

// Values that are checked and converted; each returns its complaint about the value.
Complaint setFormat(RenderOptions& o, const std::string& value) {
    if (value == "float") {
        o.format = SampleFormat::Float32;
    } else if (value == "pcm24") {
        o.format = SampleFormat::Pcm24;
    } else {
        return "--format must be float or pcm24, not '" + value + "'";
    }
    return std::nullopt;
}

Complaint setLength(RenderOptions& o, const std::string& value) {
    const auto v = parseReal(value);
    if (!v || *v <= 0.0 || *v > kMaxLengthSeconds)
        return "--length must be a number of seconds above 0 and at most 86400, not '" + value + "'";
    o.lengthSeconds = *v;
    return std::nullopt;
}

Complaint setSampleRate(RenderOptions& o, const std::string& value) {
    const auto v = parseInteger(value);
    if (!v || *v < kLowestSampleRate || *v > kHighestSampleRate)
        return "--sample-rate must be a whole number of Hz from " + std::to_string(kLowestSampleRate) +
               " to " + std::to_string(kHighestSampleRate) + ", not '" + value + "'";
    o.sampleRate = static_cast<int>(*v);
    return std::nullopt;
}

Complaint setBlockSize(RenderOptions& o, const std::string& value) {
    const auto v = parseInteger(value);
    if (!v || *v < 1 || *v > kMaxBlockSize)
        return "--block-size must be a whole number from 1 to " + std::to_string(kMaxBlockSize) + ", not '" +
               value + "'";
    o.blockSize = static_cast<int>(*v);
    return std::nullopt;
}

Complaint setTempo(RenderOptions& o, const std::string& value) {
    const auto v = parseReal(value);
    if (!v || *v <= 0.0 || *v > 1000.0)
        return "--tempo must be a number of beats per minute above 0 and at most 1000, not '" + value + "'";
    o.tempo = *v;
    return std::nullopt;
}

Complaint addSet(RenderOptions& o, const std::string& value) {
    o.sets.push_back(value);
    return std::nullopt;
}

// One option: a file or name kept as given (text), a switch (flag), or a value that is
// checked and converted (set). Only --set may be given more than once; any other option
// given twice would leave one of its values unused without a word.
struct OptionRow {
    std::string_view name;
    std::string_view alias;  // another spelling, or empty
    std::string RenderOptions::*text = nullptr;
    bool RenderOptions::*flag = nullptr;
    Complaint (*set)(RenderOptions&, const std::string&) = nullptr;
    bool repeatable = false;
};

const OptionRow kOptions[] = {
    {"--plugin", {}, &RenderOptions::plugin},
    {"--input", {}, &RenderOptions::input},
    {"--input-a", {}, &RenderOptions::inputA},
    {"--input-b", {}, &RenderOptions::inputB},
    {"--output", {}, &RenderOptions::output},
    {"--format", {}, nullptr, nullptr, setFormat},
    {"--midi", {}, &RenderOptions::midi},
    {"--length", {}, nullptr, nullptr, setLength},
    {"--sample-rate", {}, nullptr, nullptr, setSampleRate},
    {"--block-size", {}, nullptr, nullptr, setBlockSize},
    {"--tempo", {}, nullptr, nullptr, setTempo},
    {"--state", "--preset", &RenderOptions::state},
    {"--sample", {}, &RenderOptions::sample},
    {"--save-preset", {}, &RenderOptions::savePreset},
    {"--set", {}, nullptr, nullptr, addSet, true},
    {"--show-editor", {}, nullptr, &RenderOptions::showEditor},
    {"--editor-script", {}, &RenderOptions::editorScript},
    {"--editor-shot", {}, &RenderOptions::editorShot},
    {"--info", {}, nullptr, &RenderOptions::info},
    {"--quiet", "-q", nullptr, &RenderOptions::quiet},
    {"--help", "-h", nullptr, &RenderOptions::help},
};

const OptionRow* findOption(std::string_view name) {
    for (const OptionRow& row : kOptions)
        if (row.name == name || (!row.alias.empty() && row.alias == name)) return &row;
    return nullptr;
}

// The arguments as the option table reads them.
class ArgumentReader {
  public:
    ArgumentReader(int argc, char** argv, RenderOptions& o) : argc_(argc), argv_(argv), o_(o) {}

    Complaint readAll() {
        for (i_ = 1; i_ < argc_; ++i_) {
            const std::string arg = argv_[i_];
            if (optionsEnded_ || arg.empty() || arg[0] != '-') {
                positional_.push_back(arg);
            } else if (arg == "--") {
                optionsEnded_ = true;
            } else if (auto complaint = readOption(arg)) {
                return complaint;
            }
        }
        return takePlugin();
    }

  private:
    // "--name value" or "--name=value" for an option with a value, the name alone for a switch.
    Complaint readOption(const std::string& arg) {
        const std::size_t eq = arg.starts_with("--") ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, eq);
        const OptionRow* row = findOption(name);
        if (row == nullptr) return "unknown option " + name;
        if (row->flag != nullptr) {
            if (eq != std::string::npos) return name + " takes no value";
            o_.*(row->flag) = true;
            return std::nullopt;
        }
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i_ + 1 < argc_) {
            value = argv_[++i_];
        } else {
            return "option " + arg + " needs a value";
        }
        if (!row->repeatable && !seen_.insert(row->name).second)
            return row->alias.empty()
                       ? name + " is given twice"
                       : std::string(row->name) + " and " + std::string(row->alias) + " are given together";
        if (row->set != nullptr) return row->set(o_, value);
        o_.*(row->text) = value;
        return std::nullopt;
    }

    Complaint takePlugin() {
        if (positional_.size() > 1 || (positional_.size() == 1 && !o_.plugin.empty()))
            return "give exactly one plug-in (extra argument '" + positional_.back() + "')";
        if (positional_.size() == 1) o_.plugin = positional_[0];
        return std::nullopt;
    }

    int argc_;
    char** argv_;
    RenderOptions& o_;
    int i_ = 1;
    bool optionsEnded_ = false;
    std::vector<std::string> positional_;
    std::set<std::string_view> seen_;
};

// The editor modes take the editor's window instead of a file: what writes or plays a file
// does not combine with them.
Complaint checkEditorMode(const RenderOptions& o) {
    const int modes = int(o.showEditor) + int(!o.editorScript.empty()) + int(!o.editorShot.empty());
    if (modes > 1) return "choose one of --show-editor, --editor-script and --editor-shot";
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

// A render needs an output whose type its name tells, and something to render.
Complaint checkRender(RenderOptions& o) {
    if (o.output.empty() && !o.savePreset.empty()) return std::nullopt;
    if (o.output.empty()) return "no --output file given (or use --info or --save-preset)";
    const auto container = containerForPath(o.output);
    if (!container)
        return "cannot tell the type of --output " + o.output +
               " from its extension; use .wav, .aif, .aiff, .flac, .ogg or .oga";
    o.container = *container;
    if (o.input.empty() && o.inputA.empty() && o.inputB.empty() && o.midi.empty() && !o.lengthSeconds)
        return "no input, no --midi and no --length: nothing to render";
    return std::nullopt;
}

Complaint checkCombination(RenderOptions& o) {
    if (o.plugin.empty()) return "no plug-in given";
    if (!o.input.empty() && (!o.inputA.empty() || !o.inputB.empty()))
        return "--input cannot be combined with --input-a or --input-b";
    if (o.editorMode()) return checkEditorMode(o);
    if (o.info) {
        if (!o.output.empty()) return "--info cannot be combined with --output";
        if (!o.midi.empty()) return "--info cannot be combined with --midi";
        return std::nullopt;
    }
    return checkRender(o);
}

}  // namespace

std::optional<std::string> parseRenderOptions(int argc, char** argv, RenderOptions& o) {
    if (auto complaint = ArgumentReader(argc, argv, o).readAll()) return complaint;
    if (o.help) return std::nullopt;
    if (!o.savePreset.empty()) o.savePreset = withDefaultExtension(o.savePreset, kPresetExtension);
    return checkCombination(o);
}

// A file the tool writes must not be one it reads: the render would replace its own
// recording, a preset would be saved over a WAV file. Names are compared as files (device
// and inode), so neither a link nor another spelling of the path gets past.
std::optional<std::string> findOutputThatIsAnInput(const RenderOptions& o) {
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
            if (platform::sameFile(*path, *input))
                return std::string(option) + " " + *path + " is the same file as " + inputOption + " " +
                       *input + "; choose another file to write";
        for (std::size_t j = 0; j < i; ++j)
            if (platform::sameFile(*path, *outputs[j].second) ||
                (!path->empty() && *path == *outputs[j].second))
                return std::string(outputs[j].first) + " and " + option + " name the same file " + *path;
    }
    return std::nullopt;
}

}  // namespace kf::host
