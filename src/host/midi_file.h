// Reading Standard MIDI Files for the render tool: the channel messages of all tracks,
// merged in playing order, with their times converted to frames of the rendered stream.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/render.h"

namespace kf::host {

struct MidiFileContents {
    int format = 0;  // 0 one track, 1 simultaneous tracks, 2 independent tracks (also played together)
    int tracks = 0;
    // Channel messages (status 0x80..0xEF) in ascending frame order; messages at the same
    // frame keep the order of the file (by track, then by position in the track). One-data
    // byte messages (program change, channel pressure) carry 0 as their third byte.
    std::vector<TimedMidiEvent> events;
    // The tempo the host reports while the file plays; the first entry is at frame 0.
    std::vector<TempoChange> tempoMap;
    int64_t lastEventFrame = -1;  // frame of the last channel message, -1 when there is none
};

// Parses a whole file held in memory. Times become frames through the file's tempo map
// (or, for a file timed in SMPTE frames, through its frame rate), each rounded to the
// nearest frame at `sampleRate` Hz; `tempoOverride` (beats per minute) replaces every tempo
// of the file. Meta events and system exclusive messages are read past, not returned.
// On failure returns false with a description that names the track and byte offset.
bool parseMidiFile(std::span<const uint8_t> bytes, double sampleRate, std::optional<double> tempoOverride,
                   MidiFileContents& out, std::string& error);

// Far beyond any real Standard MIDI File (a dense hour of events is a few MiB).
inline constexpr uint64_t kMaxMidiFileBytes = 64u << 20;

// As parseMidiFile, for a regular file on disk of at most kMaxMidiFileBytes.
bool readMidiFile(const std::string& path, double sampleRate, std::optional<double> tempoOverride,
                  MidiFileContents& out, std::string& error);

}  // namespace kf::host
