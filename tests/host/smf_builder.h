// Standard MIDI Files written byte by byte, so the tests control every byte a reader sees.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "support/temp_files.h"

namespace kf::test {

inline Bytes vlq(uint32_t value) {
    Bytes out{static_cast<uint8_t>(value & 0x7F)};
    while ((value >>= 7) != 0) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (value & 0x7F)));
    return out;
}

inline void appendBigEndian(Bytes& out, uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// The events of one track; end() adds the End of Track event that well-formed tracks close with.
class TrackBuilder {
  public:
    TrackBuilder& event(uint32_t delta, std::initializer_list<uint8_t> bytes) {
        const Bytes d = vlq(delta);
        data.insert(data.end(), d.begin(), d.end());
        data.insert(data.end(), bytes);
        return *this;
    }
    // A meta event (0xFF, type) or, with type < 0, a system exclusive message (0xF0).
    TrackBuilder& meta(uint32_t delta, int type, const Bytes& payload) {
        if (type < 0)
            event(delta, {0xF0});
        else
            event(delta, {0xFF, static_cast<uint8_t>(type)});
        const Bytes len = vlq(static_cast<uint32_t>(payload.size()));
        data.insert(data.end(), len.begin(), len.end());
        data.insert(data.end(), payload.begin(), payload.end());
        return *this;
    }
    TrackBuilder& tempo(uint32_t delta, uint32_t microsPerQuarter) {
        Bytes payload;
        appendBigEndian(payload, microsPerQuarter, 3);
        return meta(delta, 0x51, payload);
    }
    TrackBuilder& end(uint32_t delta = 0) { return event(delta, {0xFF, 0x2F, 0x00}); }

    Bytes data;
};

// A file with the given header fields; `declaredTracks` < 0 declares as many as given.
inline Bytes smfFile(uint16_t format, uint16_t division, const std::vector<TrackBuilder>& tracks,
                     int declaredTracks = -1) {
    Bytes out{'M', 'T', 'h', 'd'};
    appendBigEndian(out, 6, 4);
    appendBigEndian(out, format, 2);
    appendBigEndian(out, declaredTracks < 0 ? static_cast<uint32_t>(tracks.size()) : declaredTracks, 2);
    appendBigEndian(out, division, 2);
    for (const TrackBuilder& t : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        appendBigEndian(out, static_cast<uint32_t>(t.data.size()), 4);
        out.insert(out.end(), t.data.begin(), t.data.end());
    }
    return out;
}

}  // namespace kf::test
