// The render loop: runs a loaded plug-in over a stream in host-sized blocks, moving the
// transport along and handing each MIDI event over inside the block it falls in.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "host/vst_host.h"

namespace kf::host {

// A MIDI message at a frame of the rendered stream (0 = the first rendered frame).
struct TimedMidiEvent {
    int64_t frame;
    std::array<uint8_t, 3> data;
};

// A tempo that holds from a frame of the song on.
struct TempoChange {
    int64_t frame;        // song frame (see RenderSettings::songStartFrame) where the tempo starts
    double quarterNotes;  // the song position there, in quarter notes
    double bpm;           // beats per minute, > 0
};

struct RenderSettings {
    double sampleRate = 44100.0;  // Hz
    int32_t blockSize = 512;      // frames per processing call, 1..kMaxBlockSize; the last may be shorter
    double tempo = 120.0;         // beats per minute, > 0; used while tempoMap is empty
    // When not empty, the transport follows this instead of `tempo`: ascending frames, the
    // first at or before the first rendered song frame. Each block reports the tempo in
    // force at its first frame and the position reached through the changes before it.
    std::vector<TempoChange> tempoMap;
    int32_t timeSigNumerator = 4;
    int32_t timeSigDenominator = 4;
    bool playing = true;         // transport state reported to the plug-in
    int64_t songStartFrame = 0;  // song position of the first rendered frame
    ProcessLevel processLevel = ProcessLevel::Offline;
};

constexpr int32_t kMaxBlockSize = 8192;
constexpr int32_t kMaxChannels = 64;

// Fills channels[c][0..frames) with the input for stream frames [pos, pos + frames).
using BlockSource = std::function<void(int64_t pos, std::span<float* const> channels, int32_t frames)>;
// Takes the plug-in's output of one block; returning false (with a reason) stops the render.
using BlockSink =
    std::function<bool(std::span<const float* const> channels, int32_t frames, std::string& error)>;
using ProgressFn = std::function<void(int64_t framesDone, int64_t framesTotal)>;

// Renders `frames` frames. Events are taken in frame order (ties keep their order);
// events before frame 0 arrive at the start of the first block, events at or past the
// end are dropped. If the plug-in is not running it is started with the settings'
// sample rate and block size and stopped again afterwards; a running plug-in must have
// been started with a block size at least as large.
bool renderStream(Plugin& plugin, int64_t frames, const RenderSettings& settings,
                  std::span<const TimedMidiEvent> events, const BlockSource& source, const BlockSink& sink,
                  std::string& error, const ProgressFn& progress = {});

// Whole-buffer form: inputs[c] feeds plug-in input c (missing channels and samples past
// a channel's end are silence); outputs receives numOutputs channels of `frames` samples.
bool render(Plugin& plugin, const std::vector<std::vector<float>>& inputs, int64_t frames,
            std::vector<std::vector<float>>& outputs, const RenderSettings& settings,
            std::span<const TimedMidiEvent> events, std::string& error, const ProgressFn& progress = {});

}  // namespace kf::host
