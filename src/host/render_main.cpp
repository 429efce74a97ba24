// kestrafone-render: renders audio files through a VST 2.4 plug-in, or describes the
// plug-in the way a host's scanner sees it, or shows its editor. A run is a row of steps,
// each of which either fills in the session or says why the tool stops.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/sample_rate_range.h"
#include "host/editor_script.h"
#include "host/midi_file.h"
#include "host/render.h"
#include "host/render_inputs.h"
#include "host/render_tool_editor.h"
#include "host/render_tool_options.h"
#include "host/render_tool_plugin.h"
#include "host/sound_file.h"
#include "host/stop_signals.h"
#include "host/vst_host.h"
#include "platform/command_line.h"
#include "platform/safe_files.h"

namespace kf::host {
namespace {

constexpr double kMidiTailSeconds = 2.0;  // rendered after the last MIDI event, for releases and reverb
// A plug-in's saved state: Kestrafone's is a few KiB, and no plug-in that stores samples
// inside its state should need more.
constexpr uint64_t kMaxStateBytes = 256u << 20;
constexpr uint64_t kMaxScriptBytes = 1u << 20;
// Below this peak (-90 dBFS, the smallest step of a 16-bit file) a render holds nothing
// anyone will hear, which is worth a word: a carrier that is missing or ends early, a MIDI
// file on the wrong channel.
constexpr float kSilentPeak = 3.1623e-5f;

int report(const Failure& failure) {
    std::fprintf(stderr, "kestrafone-render: %s\n", failure.message.c_str());
    if (failure.code == kExitUsage) std::fprintf(stderr, "Try 'kestrafone-render --help'.\n");
    return failure.code;
}

void printWarning(const std::string& text) {
    std::fprintf(stderr, "kestrafone-render: warning: %s\n", text.c_str());
}

// What the steps of a run read and make, in the order they fill it in.
struct Session {
    RenderOptions o;
    RenderInputs inputs;
    int sampleRate = 44100;
    std::vector<uint8_t> state;
    EditorScript script;
    MidiFileContents midi;
    std::unique_ptr<Plugin> plugin;

    RenderSettings settings() const {
        RenderSettings settings;
        settings.sampleRate = sampleRate;
        settings.blockSize = o.blockSize;
        settings.tempo = o.tempo.value_or(120.0);
        settings.tempoMap = midi.tempoMap;
        return settings;
    }
};

using Step = std::optional<Failure> (*)(Session&);

// The audio inputs, and the rate everything runs at: theirs, which must be one the plug-in
// runs at (it would play anything else off pitch).
std::optional<Failure> openInputs(Session& s) {
    const RenderOptions& o = s.o;
    if ((!o.info && !o.output.empty()) || o.editorMode()) {
        if (auto error = s.inputs.open(o.input, o.inputA, o.inputB)) return Failure{kExitFile, *error};
    }
    for (const std::string& warning : s.inputs.takeWarnings()) printWarning(warning);
    s.sampleRate = o.sampleRate.value_or(s.inputs.present() ? s.inputs.sampleRate() : 44100);
    const int inputRate = s.inputs.sampleRate();
    if (s.inputs.present() && inputRate != s.sampleRate)
        return Failure{kExitFile, "the input is at " + std::to_string(inputRate) +
                                      " Hz but --sample-rate is " + std::to_string(s.sampleRate) +
                                      " Hz; resampling is not supported"};
    if (s.sampleRate < kLowestSampleRate || s.sampleRate > kHighestSampleRate)
        return Failure{kExitFile,
                       "the input is at " + std::to_string(s.sampleRate) + " Hz; Kestrafone runs at " +
                           std::to_string(kLowestSampleRate) + " to " + std::to_string(kHighestSampleRate) +
                           " Hz and would play it off pitch. Resample it first (e.g. sox IN.wav -r "
                           "44100 OUT.wav)"};
    return std::nullopt;
}

// The state, the editor script and the MIDI file, read and checked before the plug-in is
// loaded, so that a bad file costs nothing.
std::optional<Failure> readFiles(Session& s) {
    const RenderOptions& o = s.o;
    std::string error;
    if (!o.state.empty()) {
        if (!platform::readRegularFile(o.state, kMaxStateBytes, s.state, error))
            return Failure{kExitFile, "cannot read the state: " + error};
        if (s.state.empty()) return Failure{kExitFile, "the state file " + o.state + " is empty"};
    }
    if (!o.editorScript.empty()) {
        std::vector<uint8_t> text;
        if (!platform::readRegularFile(o.editorScript, kMaxScriptBytes, text, error))
            return Failure{kExitFile, "cannot read the editor script: " + error};
        auto parsed = parseEditorScript(
            std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), error);
        if (!parsed) return Failure{kExitFile, o.editorScript + ": " + error};
        s.script = std::move(*parsed);
    }
    if (!o.midi.empty() && !readMidiFile(o.midi, s.sampleRate, o.tempo, s.midi, error))
        return Failure{kExitFile, error};
    return std::nullopt;
}

std::optional<Failure> loadPlugin(Session& s) {
    std::string error;
    s.plugin = Plugin::load(s.o.plugin, {}, error);
    if (!s.plugin) return Failure{kExitPlugin, error};
    const Plugin& p = *s.plugin;
    if (p.numOutputs() < 1 || p.numOutputs() > kMaxChannels || p.numInputs() < 0 ||
        p.numInputs() > kMaxChannels)
        return Failure{kExitPlugin, s.o.plugin + " reports " + std::to_string(p.numInputs()) +
                                        " inputs and " + std::to_string(p.numOutputs()) +
                                        " outputs; cannot render through it"};
    return std::nullopt;
}

// As a host does: the rate and block size right after opening, then the state, the
// parameters and the sample.
std::optional<Failure> setUpPlugin(Session& s) {
    Plugin& plugin = *s.plugin;
    plugin.setSampleRate(s.sampleRate);
    plugin.setBlockSize(s.o.blockSize);
    if (!s.o.state.empty()) {
        if (auto failure = restoreState(plugin, s.state, s.o.state)) return failure;
    }
    if (auto error = applySets(plugin, s.o.sets)) return Failure{kExitUsage, *error};
    if (!s.o.sample.empty()) return loadSample(plugin, s.o.sample);
    return std::nullopt;
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

int runEditor(Session& s) {
    // Only the shown editor looks for a stop request; a script or a capture ends at once.
    if (!s.o.showEditor) {
        uncatchStopSignals();
        if (stopSignal() != 0) return kExitFile;
    }
    if (auto failure = runEditorMode(*s.plugin, s.o, s.inputs.readAll(), s.settings(), s.script))
        return report(*failure);
    return kExitOk;
}

// Takes the plug-in's output into the file block by block: non-finite samples (which would
// turn into full-scale garbage in an integer file) are written as silence and counted, the
// peak is kept, a stop request ends the render, and so does the end of the inputs when they
// turn out to end before they said.
class OutputSink {
  public:
    OutputSink(SoundFileWriter& writer, int channels, int blockSize, std::function<int64_t()> end)
        : writer_(writer),
          end_(std::move(end)),
          block_(static_cast<std::size_t>(channels),
                 std::vector<float>(static_cast<std::size_t>(blockSize))) {
        for (const auto& c : block_) pointers_.push_back(c.data());
    }

    bool take(std::span<const float* const> channels, int32_t n, std::string& error) {
        if (stopSignal() != 0) {
            error = std::string("stopped by ") + stopSignalName();
            return false;
        }
        const int64_t end = end_();
        const auto keep = static_cast<int32_t>(std::clamp<int64_t>(end - written, 0, n));
        for (std::size_t c = 0; c < channels.size(); ++c)
            for (int32_t f = 0; f < keep; ++f) {
                const float v = channels[c][f];
                const bool finite = std::isfinite(v);
                nonFinite += finite ? 0 : 1;
                block_[c][static_cast<std::size_t>(f)] = finite ? v : 0.0f;
                peak = std::max(peak, finite ? std::fabs(v) : 0.0f);
            }
        written += keep;
        if (!writer_.write(pointers_, keep, error)) return false;
        endedEarly = written >= end && keep < n;
        return !endedEarly;
    }

    int64_t written = 0;
    int64_t nonFinite = 0;
    float peak = 0.0f;
    bool endedEarly = false;  // the inputs ended before the length they declared

  private:
    SoundFileWriter& writer_;
    std::function<int64_t()> end_;
    std::vector<std::vector<float>> block_;
    std::vector<const float*> pointers_;
};

// Without --length the render ends with the longest input, or with the MIDI file and its
// tail, whichever lasts longer; an input that turns out to be cut short ends it sooner.
std::optional<Failure> renderLength(const Session& s, int64_t& frames, int64_t& midiFrames) {
    const RenderOptions& o = s.o;
    midiFrames = 0;
    if (!o.midi.empty()) {
        // Play the whole file, and long enough after its last event for releases and tails.
        midiFrames =
            s.midi.lastEventFrame + 1 + static_cast<int64_t>(std::llround(kMidiTailSeconds * s.sampleRate));
        if (!o.lengthSeconds && static_cast<double>(midiFrames) > kMaxLengthSeconds * s.sampleRate)
            return Failure{kExitFile,
                           "the MIDI file " + o.midi + " lasts " +
                               std::to_string(static_cast<double>(s.midi.lastEventFrame) / s.sampleRate) +
                               " s; give a --length of at most 86400 s to render part of it"};
    }
    frames = o.lengthSeconds ? static_cast<int64_t>(std::llround(*o.lengthSeconds * s.sampleRate))
                             : std::max(s.inputs.declaredFrames(), midiFrames);
    return std::nullopt;
}

void reportRender(const Session& s, const OutputSink& sink) {
    if (sink.nonFinite > 0)
        printWarning("the plug-in produced " + std::to_string(sink.nonFinite) +
                     " non-finite samples; written as 0");
    if (sink.peak < kSilentPeak)
        printWarning("the output " + s.o.output + " is silent (no sample above -90 dBFS)");
    // Events at or after the end are not sent; say so when that cuts the file short.
    const auto& events = s.midi.events;
    const auto sent = static_cast<std::size_t>(std::count_if(
        events.begin(), events.end(), [&](const TimedMidiEvent& e) { return e.frame < sink.written; }));
    if (sent < events.size())
        printWarning(std::to_string(events.size() - sent) +
                     " MIDI events after the end of the render were not sent");
    if (s.o.quiet) return;
    std::printf("Rendered %.3f s (%lld frames, %d channels, %d Hz) to %s\n",
                static_cast<double>(sink.written) / s.sampleRate, static_cast<long long>(sink.written),
                s.plugin->numOutputs(), s.sampleRate, s.o.output.c_str());
    if (!s.o.midi.empty()) std::printf("Sent %zu MIDI events from %s\n", sent, s.o.midi.c_str());
}

int renderToFile(Session& s) {
    const RenderOptions& o = s.o;
    int64_t frames = 0, midiFrames = 0;
    if (auto failure = renderLength(s, frames, midiFrames)) return report(*failure);
    if (!o.midi.empty() && s.midi.events.empty())
        printWarning("the MIDI file " + o.midi + " holds no channel messages");
    std::string error;
    SoundFileWriter writer;
    if (!writer.open(o.output, s.sampleRate, s.plugin->numOutputs(), o.container, o.format, error))
        return report({kExitFile, error});

    const bool inputsEnd = !o.lengthSeconds;
    OutputSink sink(writer, s.plugin->numOutputs(), o.blockSize,
                    [&] { return inputsEnd ? std::max(s.inputs.knownFrames(), midiFrames) : frames; });
    ProgressBar bar(!o.quiet && isatty(STDERR_FILENO));
    const bool ok = renderStream(
        *s.plugin, frames, s.settings(), s.midi.events,
        [&](int64_t, std::span<float* const> channels, int32_t n) { s.inputs.read(channels, n); },
        [&](std::span<const float* const> out, int32_t n, std::string& e) { return sink.take(out, n, e); },
        error, [&](int64_t done, int64_t total) { bar.update(done, total); });
    bar.end();
    for (const std::string& warning : s.inputs.takeWarnings()) printWarning(warning);
    // A failed render leaves whatever file was there before; a partial one would pass for a result.
    if (stopSignal() != 0)
        return report({kExitFile, std::string("stopped by ") + stopSignalName() +
                                      "; nothing was written to " + o.output});
    if ((!ok && !sink.endedEarly) || !writer.close(error)) return report({kExitFile, error});
    reportRender(s, sink);
    return kExitOk;
}

int run(int argc, char** argv) {
    Session s;
    if (auto complaint = parseRenderOptions(argc, argv, s.o)) return report({kExitUsage, *complaint});
    if (s.o.help) {
        std::fputs(kRenderUsage, stdout);
        return kExitOk;
    }
    if (auto complaint = findOutputThatIsAnInput(s.o)) return report({kExitUsage, *complaint});
    for (const Step step : {openInputs, readFiles, loadPlugin, setUpPlugin})
        if (auto failure = step(s)) return report(*failure);
    if (!s.o.savePreset.empty()) {
        if (auto error = saveState(*s.plugin, s.o.savePreset)) return report({kExitFile, *error});
        if (s.o.output.empty()) return kExitOk;
    }
    if (s.o.info) {
        printInfo(*s.plugin);
        return kExitOk;
    }
    if (s.o.editorMode()) return runEditor(s);
    return renderToFile(s);
}

}  // namespace
}  // namespace kf::host

int main(int argc, char** argv) {
    kf::host::catchStopSignals();
    std::vector<std::string> arguments = kf::platform::commandLineArguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    const int code = kf::host::run(static_cast<int>(pointers.size()), pointers.data());
    // Asked to stop, the tool has left every file as it was (everything it owned is gone by
    // now); it ends as the signal would have ended it.
    if (code != kf::host::kExitOk && kf::host::stopSignal() != 0) kf::host::endAsStopSignalAsked();
    return code;
}
