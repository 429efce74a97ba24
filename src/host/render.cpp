#include "host/render.h"

#include <algorithm>
#include <cmath>

namespace kf::host {
namespace {

bool tempoMapValid(const RenderSettings& s) {
    for (std::size_t i = 0; i < s.tempoMap.size(); ++i) {
        const TempoChange& c = s.tempoMap[i];
        if (!(std::isfinite(c.bpm) && c.bpm > 0.0 && std::isfinite(c.quarterNotes))) return false;
        if (i == 0 ? c.frame > s.songStartFrame : c.frame < s.tempoMap[i - 1].frame) return false;
    }
    return true;
}

bool checkSettings(const Plugin& plugin, int64_t frames, const RenderSettings& s, std::string& error) {
    if (frames < 0) {
        error = "negative render length";
    } else if (s.blockSize < 1 || s.blockSize > kMaxBlockSize) {
        error = "block size " + std::to_string(s.blockSize) + " outside 1.." + std::to_string(kMaxBlockSize);
    } else if (!(std::isfinite(s.sampleRate) && s.sampleRate > 0.0)) {
        error = "invalid sample rate";
    } else if (!(std::isfinite(s.tempo) && s.tempo > 0.0)) {
        error = "invalid tempo";
    } else if (!tempoMapValid(s)) {
        error =
            "invalid tempo map (tempos must be above 0, positions finite, frames ascending and the "
            "first at or before the first rendered frame)";
    } else if (s.timeSigNumerator < 1 || s.timeSigDenominator < 1) {
        error = "invalid time signature";
    } else if (plugin.numInputs() < 0 || plugin.numInputs() > kMaxChannels || plugin.numOutputs() < 0 ||
               plugin.numOutputs() > kMaxChannels) {
        error = "the plug-in reports an implausible channel count (" + std::to_string(plugin.numInputs()) +
                " inputs, " + std::to_string(plugin.numOutputs()) + " outputs)";
    } else {
        return true;
    }
    return false;
}

}  // namespace

bool renderStream(Plugin& plugin, int64_t frames, const RenderSettings& settings,
                  std::span<const TimedMidiEvent> events, const BlockSource& source, const BlockSink& sink,
                  std::string& error, const ProgressFn& progress) {
    if (!checkSettings(plugin, frames, settings, error)) return false;
    const bool startHere = !plugin.running();
    if (!startHere && plugin.host().blockSize() < settings.blockSize) {
        error = "the plug-in was started with a smaller block size than the render asks for";
        return false;
    }

    std::vector<TimedMidiEvent> queue(events.begin(), events.end());
    std::stable_sort(queue.begin(), queue.end(),
                     [](const TimedMidiEvent& a, const TimedMidiEvent& b) { return a.frame < b.frame; });
    std::vector<MidiMessage> messages;
    messages.reserve(queue.size());

    const auto bs = static_cast<std::size_t>(settings.blockSize);
    std::vector<std::vector<float>> in(static_cast<std::size_t>(plugin.numInputs()), std::vector<float>(bs));
    std::vector<std::vector<float>> out(static_cast<std::size_t>(plugin.numOutputs()),
                                        std::vector<float>(bs));
    std::vector<float*> inPtr, outPtr;
    for (auto& c : in) inPtr.push_back(c.data());
    for (auto& c : out) outPtr.push_back(c.data());

    const ProcessLevel previousLevel = plugin.host().processLevel();
    plugin.host().setProcessLevel(settings.processLevel);
    if (startHere) plugin.start(settings.sampleRate, settings.blockSize);

    // A constant tempo is a map of one change at the song's origin.
    std::vector<TempoChange> tempoMap = settings.tempoMap;
    if (tempoMap.empty()) tempoMap.push_back({0, 0.0, settings.tempo});
    std::size_t tempoIndex = 0;
    std::size_t next = 0;
    bool ok = true;
    for (int64_t pos = 0; pos < frames && ok;) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(settings.blockSize, frames - pos));

        const int64_t songFrame = settings.songStartFrame + pos;
        while (tempoIndex + 1 < tempoMap.size() && tempoMap[tempoIndex + 1].frame <= songFrame) ++tempoIndex;
        const TempoChange& tempo = tempoMap[tempoIndex];
        Transport t;
        t.samplePos = static_cast<double>(songFrame);
        t.ppqPos = tempo.quarterNotes +
                   static_cast<double>(songFrame - tempo.frame) * tempo.bpm / 60.0 / settings.sampleRate;
        t.tempo = tempo.bpm;
        t.playing = settings.playing;
        t.timeSigNumerator = settings.timeSigNumerator;
        t.timeSigDenominator = settings.timeSigDenominator;
        plugin.host().setTransport(t);

        messages.clear();
        for (; next < queue.size() && queue[next].frame < pos + n; ++next) {
            const auto delta = static_cast<int32_t>(std::max<int64_t>(0, queue[next].frame - pos));
            messages.push_back({delta, queue[next].data});
        }
        if (!messages.empty()) plugin.processEvents(messages);

        for (auto& c : in) std::fill(c.begin(), c.end(), 0.0f);
        if (source) source(pos, inPtr, n);
        for (auto& c : out) std::fill(c.begin(), c.end(), 0.0f);
        plugin.process(inPtr.data(), outPtr.data(), n);

        if (sink) ok = sink(outPtr, n, error);
        pos += n;
        if (progress) progress(pos, frames);
    }

    if (startHere) plugin.stop();
    plugin.host().setProcessLevel(previousLevel);
    return ok;
}

bool render(Plugin& plugin, const std::vector<std::vector<float>>& inputs, int64_t frames,
            std::vector<std::vector<float>>& outputs, const RenderSettings& settings,
            std::span<const TimedMidiEvent> events, std::string& error, const ProgressFn& progress) {
    outputs.assign(static_cast<std::size_t>(std::clamp(plugin.numOutputs(), 0, kMaxChannels)),
                   std::vector<float>(static_cast<std::size_t>(std::max<int64_t>(frames, 0))));
    auto source = [&](int64_t pos, std::span<float* const> channels, int32_t n) {
        for (std::size_t c = 0; c < channels.size() && c < inputs.size(); ++c) {
            const auto& src = inputs[c];
            if (pos >= static_cast<int64_t>(src.size())) continue;
            const auto count = std::min<int64_t>(n, static_cast<int64_t>(src.size()) - pos);
            std::copy_n(src.begin() + pos, count, channels[c]);
        }
    };
    int64_t written = 0;
    auto sink = [&](std::span<const float* const> channels, int32_t n, std::string&) {
        for (std::size_t c = 0; c < channels.size(); ++c)
            std::copy_n(channels[c], n, outputs[c].begin() + written);
        written += n;
        return true;
    };
    return renderStream(plugin, frames, settings, events, source, sink, error, progress);
}

}  // namespace kf::host
