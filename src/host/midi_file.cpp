#include "host/midi_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/safe_files.h"

namespace kf::host {
namespace {

// Anything later than this is a corrupt file rather than music; it also keeps every
// frame number far inside int64 and exactly representable in a double.
constexpr long double kMaxSeconds = 1.0e7L;
constexpr uint32_t kDefaultMicrosPerQuarter = 500000;  // 120 BPM, until a tempo event says otherwise

std::string hex(std::size_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%zx", value);
    return text;
}

// One event of one track, before the tracks are merged.
struct RawEvent {
    uint64_t tick;
    enum class Kind { Channel, Tempo } kind;
    std::array<uint8_t, 3> data;  // Channel: the message; Tempo: microseconds per quarter, big-endian
};

class ByteReader {
  public:
    ByteReader(std::span<const uint8_t> bytes, std::size_t begin, std::size_t end)
        : bytes_(bytes), pos_(begin), end_(end) {}
    std::size_t pos() const { return pos_; }
    bool atEnd() const { return pos_ >= end_; }
    std::size_t remaining() const { return end_ - pos_; }
    bool byte(uint8_t& b) {
        if (atEnd()) return false;
        b = bytes_[pos_++];
        return true;
    }
    void unread() { --pos_; }
    void skip(std::size_t n) { pos_ += n; }
    // A variable-length quantity: 7 bits a byte, most significant first, at most 4 bytes.
    // Returns 0 on success, 1 when the data ends inside it, 2 when it is too long.
    int vlq(uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b;
            if (!byte(b)) return 1;
            value = (value << 7) | (b & 0x7Fu);
            if ((b & 0x80u) == 0) return 0;
        }
        return 2;
    }

  private:
    std::span<const uint8_t> bytes_;
    std::size_t pos_, end_;
};

uint32_t bigEndian(std::span<const uint8_t> bytes, std::size_t at, int count) {
    uint32_t v = 0;
    for (int i = 0; i < count; ++i) v = (v << 8) | bytes[at + static_cast<std::size_t>(i)];
    return v;
}

// Reads the events of one MTrk chunk's data [begin, end). A track that ends without an
// End of Track event is accepted when it stops between two events, as many writers
// leave that event out; one that stops inside an event is refused.
bool parseTrack(std::span<const uint8_t> bytes, std::size_t begin, std::size_t end, int trackNumber,
                std::vector<RawEvent>& out, std::string& error) {
    ByteReader r(bytes, begin, end);
    uint64_t tick = 0;
    uint8_t runningStatus = 0;
    std::size_t eventStart = begin;
    auto fail = [&](const std::string& what) {
        error = "track " + std::to_string(trackNumber) + ", byte " + hex(eventStart) + ": " + what;
        return false;
    };
    const std::string cutShort = "the track ends inside an event";

    while (!r.atEnd()) {
        eventStart = r.pos();
        uint32_t delta;
        if (const int e = r.vlq(delta); e != 0)
            return fail(e == 1 ? cutShort : "delta time longer than 4 bytes");
        tick += delta;

        uint8_t status;
        if (!r.byte(status)) return fail(cutShort);
        if (status < 0x80) {
            // Running status: a data byte where a status was due repeats the last channel status.
            if (runningStatus == 0)
                return fail("data byte " + hex(status) + " without a status byte before it");
            r.unread();
            status = runningStatus;
        }

        if (status < 0xF0) {
            runningStatus = status;
            const int dataBytes = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
            RawEvent ev{tick, RawEvent::Kind::Channel, {status, 0, 0}};
            for (int i = 0; i < dataBytes; ++i) {
                uint8_t d;
                if (!r.byte(d)) return fail(cutShort);
                if (d >= 0x80) return fail("status byte " + hex(d) + " inside a channel message");
                ev.data[static_cast<std::size_t>(i) + 1] = d;
            }
            out.push_back(ev);
            continue;
        }

        // System exclusive (F0, and F7 for continuations and escapes) and meta events carry
        // their length, and cancel running status.
        if (status != 0xF0 && status != 0xF7 && status != 0xFF)
            return fail("status byte " + hex(status) + " is not allowed in a MIDI file");
        runningStatus = 0;
        uint8_t metaType = 0;
        if (status == 0xFF && !r.byte(metaType)) return fail(cutShort);
        uint32_t length;
        if (const int e = r.vlq(length); e != 0)
            return fail(e == 1 ? cutShort : "length longer than 4 bytes");
        if (length > r.remaining()) return fail(cutShort);
        const std::size_t dataAt = r.pos();
        r.skip(length);
        if (status != 0xFF) continue;
        if (metaType == 0x2F) return true;  // End of Track: anything after it is not part of the track
        if (metaType == 0x51) {
            if (length != 3) return fail("tempo event of " + std::to_string(length) + " bytes instead of 3");
            if (bigEndian(bytes, dataAt, 3) == 0) return fail("tempo of 0 microseconds per quarter note");
            out.push_back(
                {tick, RawEvent::Kind::Tempo, {bytes[dataAt], bytes[dataAt + 1], bytes[dataAt + 2]}});
        }
    }
    return true;
}

// What the header chunk says.
struct Header {
    uint32_t length = 0;  // of its data: at least 6; longer headers are allowed for future fields
    uint32_t format = 0;
    uint32_t trackCount = 0;
    uint32_t division = 0;
    // For a file timed in SMPTE frames, the seconds a tick lasts; 0 for ticks per quarter.
    long double secondsPerTickSmpte = 0.0L;
};

bool readHeader(std::span<const uint8_t> bytes, Header& h, std::string& error) {
    if (bytes.size() < 14 || bytes[0] != 'M' || bytes[1] != 'T' || bytes[2] != 'h' || bytes[3] != 'd') {
        error = "not a Standard MIDI File (no MThd header)";
        return false;
    }
    h.length = bigEndian(bytes, 4, 4);
    if (h.length < 6 || h.length > bytes.size() - 8) {
        error = "invalid header length " + std::to_string(h.length);
        return false;
    }
    h.format = bigEndian(bytes, 8, 2);
    h.trackCount = bigEndian(bytes, 10, 2);
    h.division = bigEndian(bytes, 12, 2);
    if (h.format > 2) {
        error = "unknown file format " + std::to_string(h.format);
        return false;
    }
    if (h.trackCount == 0) {
        error = "the header declares no tracks";
        return false;
    }
    // Division: ticks per quarter note, or (top bit set) SMPTE frames per second and ticks
    // per frame, which time the file in seconds and make its tempo events irrelevant.
    if (h.division & 0x8000u) {
        const int fps = 256 - static_cast<int>(h.division >> 8);
        const uint32_t ticksPerFrame = h.division & 0xFFu;
        if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || ticksPerFrame == 0) {
            error = "invalid SMPTE division (" + std::to_string(fps) + " frames per second, " +
                    std::to_string(ticksPerFrame) + " ticks per frame)";
            return false;
        }
        // 29 stands for 30 drop-frame, which runs at 30000/1001 frames per second.
        const long double rate = fps == 29 ? 30000.0L / 1001.0L : static_cast<long double>(fps);
        h.secondsPerTickSmpte = 1.0L / (rate * ticksPerFrame);
    } else if (h.division == 0) {
        error = "the header gives 0 ticks per quarter note";
        return false;
    }
    return true;
}

// The events of every track, in file order and then merged by tick (a stable sort, so
// events on one tick keep their track's and their own order); chunks of other types are
// skipped, as the format asks.
bool readTracks(std::span<const uint8_t> bytes, const Header& h, std::vector<RawEvent>& events,
                int& tracksRead, std::string& error) {
    std::size_t pos = 8 + h.length;
    tracksRead = 0;
    while (tracksRead < static_cast<int>(h.trackCount)) {
        if (bytes.size() - pos < 8) {
            error = "the header declares " + std::to_string(h.trackCount) +
                    " track(s) but the file ends after " + std::to_string(tracksRead);
            return false;
        }
        const bool isTrack =
            bytes[pos] == 'M' && bytes[pos + 1] == 'T' && bytes[pos + 2] == 'r' && bytes[pos + 3] == 'k';
        const uint32_t length = bigEndian(bytes, pos + 4, 4);
        if (length > bytes.size() - pos - 8) {
            error = "chunk at byte " + hex(pos) + " declares " + std::to_string(length) +
                    " bytes but the file ends after " + std::to_string(bytes.size() - pos - 8) +
                    " (the file is cut short)";
            return false;
        }
        if (isTrack) {
            ++tracksRead;
            if (!parseTrack(bytes, pos + 8, pos + 8 + length, tracksRead, events, error)) return false;
        }
        pos += 8 + length;
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const RawEvent& a, const RawEvent& b) { return a.tick < b.tick; });
    return true;
}

// Ticks to frames. With ticks per quarter, the time is summed over tempo segments in long
// double; each event is placed at the nearest frame of the stream. The host's tempo is the
// file's map, or one constant tempo (the override; 120 for a file timed in SMPTE frames,
// which has no musical tempo of its own).
bool placeEvents(const std::vector<RawEvent>& events, const Header& h, double sampleRate,
                 std::optional<double> tempoOverride, MidiFileContents& out, std::string& error) {
    const bool smpte = h.secondsPerTickSmpte > 0.0L;
    const long double ticksPerQuarter = smpte ? 0.0L : static_cast<long double>(h.division);
    auto secondsPerTickAt = [&](uint32_t microsPerQuarter) {
        return static_cast<long double>(microsPerQuarter) / (1.0e6L * ticksPerQuarter);
    };
    const long double overrideSecondsPerTick =
        tempoOverride ? 60.0L / (static_cast<long double>(*tempoOverride) * ticksPerQuarter) : 0.0L;
    long double secondsPerTick = smpte           ? h.secondsPerTickSmpte
                                 : tempoOverride ? overrideSecondsPerTick
                                                 : secondsPerTickAt(kDefaultMicrosPerQuarter);
    uint64_t segmentTick = 0;
    long double segmentSeconds = 0.0L;
    auto toFrame = [&](long double seconds) {
        return static_cast<int64_t>(std::floor(seconds * static_cast<long double>(sampleRate) + 0.5L));
    };

    out.tempoMap.push_back({0, 0.0, tempoOverride ? *tempoOverride : 120.0});
    for (const RawEvent& ev : events) {
        const long double seconds =
            segmentSeconds + static_cast<long double>(ev.tick - segmentTick) * secondsPerTick;
        if (seconds > kMaxSeconds) {
            error = "an event lies " + std::to_string(static_cast<double>(seconds)) +
                    " s into the file, beyond any plausible length";
            return false;
        }
        const int64_t frame = toFrame(seconds);
        if (ev.kind == RawEvent::Kind::Channel) {
            out.events.push_back({frame, ev.data});
            out.lastEventFrame = frame;
            continue;
        }
        if (smpte || tempoOverride) continue;
        segmentSeconds = seconds;
        segmentTick = ev.tick;
        const uint32_t micros = (uint32_t{ev.data[0]} << 16) | (uint32_t{ev.data[1]} << 8) | ev.data[2];
        secondsPerTick = secondsPerTickAt(micros);
        const TempoChange change{
            frame, static_cast<double>(static_cast<long double>(ev.tick) / ticksPerQuarter), 60.0e6 / micros};
        // Changes that fall on one frame: the last one holds.
        if (out.tempoMap.back().frame == frame)
            out.tempoMap.back() = change;
        else
            out.tempoMap.push_back(change);
    }
    return true;
}

}  // namespace

bool parseMidiFile(std::span<const uint8_t> bytes, double sampleRate, std::optional<double> tempoOverride,
                   MidiFileContents& out, std::string& error) {
    out = {};
    if (!(std::isfinite(sampleRate) && sampleRate > 0.0)) {
        error = "invalid sample rate";
        return false;
    }
    if (tempoOverride && !(std::isfinite(*tempoOverride) && *tempoOverride > 0.0)) {
        error = "invalid tempo";
        return false;
    }
    Header header;
    std::vector<RawEvent> events;
    int tracksRead = 0;
    if (!readHeader(bytes, header, error) || !readTracks(bytes, header, events, tracksRead, error) ||
        !placeEvents(events, header, sampleRate, tempoOverride, out, error))
        return false;
    out.format = static_cast<int>(header.format);
    out.tracks = tracksRead;
    return true;
}

bool readMidiFile(const std::string& path, double sampleRate, std::optional<double> tempoOverride,
                  MidiFileContents& out, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!platform::readRegularFile(path, kMaxMidiFileBytes, bytes, error)) {
        error = "cannot read MIDI file: " + error;
        return false;
    }
    if (!parseMidiFile(bytes, sampleRate, tempoOverride, out, error)) {
        error = "invalid MIDI file " + path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace kf::host
