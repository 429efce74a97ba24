// Standard MIDI File reading: timing through tempo maps and SMPTE divisions, the events
// kept and skipped, refusal of broken files.
#include "host/midi_file.h"

#include <gtest/gtest.h>

#include <tuple>

#include "smf_builder.h"

namespace kf::host {
namespace {

using test::Bytes;
using test::smfFile;
using test::TrackBuilder;

using Event = std::pair<int64_t, std::array<uint8_t, 3>>;

std::vector<Event> eventsOf(const MidiFileContents& c) {
    std::vector<Event> out;
    for (const TimedMidiEvent& e : c.events) out.emplace_back(e.frame, e.data);
    return out;
}

// Three tracks at 96 ticks per quarter: a conductor track (120 BPM, then 240 BPM from tick
// 96), a track with running status, a long track name and a long system exclusive message
// (both need more than one length byte) and no End of Track, and a third track with an
// event at the same tick as one of the second.
Bytes tempoChangeFile() {
    TrackBuilder conductor, melody, other;
    conductor.tempo(0, 500000).tempo(96, 250000).end();
    Bytes sysex(149, 0x41);
    sysex.push_back(0xF7);
    melody.event(0, {0x90, 60, 100})
        .event(48, {64, 90})
        .event(48, {0xC1, 5})
        .meta(0, 0x03, Bytes(200, 'A'))
        .meta(96, -1, sysex)
        .event(0, {0xE0, 0x00, 0x40})
        .event(8, {0x80, 60, 64});
    other.event(96, {0xB0, 7, 100}).end();
    return smfFile(1, 96, {conductor, melody, other});
}

// At 44100 Hz: tick 48 = 0.25 s, tick 96 = 0.5 s, then 0.25 s per quarter: tick 192 =
// 0.75 s, tick 200 = 0.7708333 s = frame 33993.75, rounded to 33994.
const std::vector<Event> kTempoChangeEvents = {{0, {0x90, 60, 100}},   {11025, {0x90, 64, 90}},
                                               {22050, {0xC1, 5, 0}},  {22050, {0xB0, 7, 100}},
                                               {33075, {0xE0, 0, 64}}, {33994, {0x80, 60, 64}}};

// A --tempo override is checked through the render tool, with what the host reports.
TEST(MidiFile, TimesEventsThroughTheTempoMap) {
    MidiFileContents c;
    std::string error;
    ASSERT_TRUE(parseMidiFile(tempoChangeFile(), 44100.0, std::nullopt, c, error)) << error;
    EXPECT_EQ(c.format, 1);
    EXPECT_EQ(c.tracks, 3);
    EXPECT_EQ(eventsOf(c), kTempoChangeEvents);
    EXPECT_EQ(c.lastEventFrame, 33994);
    std::vector<std::tuple<int64_t, double, double>> map;
    for (const TempoChange& t : c.tempoMap) map.emplace_back(t.frame, t.quarterNotes, t.bpm);
    EXPECT_EQ(map, (decltype(map){{0, 0.0, 120.0}, {22050, 1.0, 240.0}}));

    // Without any tempo event a file runs at 120 BPM.
    TrackBuilder plain;
    plain.event(0, {0x90, 1, 1}).event(960, {0x80, 1, 0}).end();
    ASSERT_TRUE(parseMidiFile(smfFile(0, 480, {plain}), 48000.0, std::nullopt, c, error)) << error;
    EXPECT_EQ(c.events[1].frame, 48000);
}

TEST(MidiFile, SmpteDivisionTimesInSecondsAndIgnoresTempo) {
    TrackBuilder t;
    t.tempo(0, 250000).event(1, {0x90, 60, 1}).event(999, {0x80, 60, 0}).event(500, {0x90, 61, 1}).end();
    MidiFileContents c;
    std::string error;
    // 25 frames per second of 40 ticks: 1000 ticks per second.
    ASSERT_TRUE(parseMidiFile(smfFile(0, 0xE728, {t}), 44100.0, std::nullopt, c, error)) << error;
    const std::vector<int64_t> frames = {44, 44100, 66150};
    ASSERT_EQ(c.events.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(c.events[i].frame, frames[i]) << i;
    ASSERT_EQ(c.tempoMap.size(), 1u);

    // 29 means 30 drop-frame: 29.97 frames per second; 100 ticks a frame, 2997 ticks = 1 s.
    TrackBuilder d;
    d.event(2997, {0x90, 60, 1}).end();
    ASSERT_TRUE(parseMidiFile(smfFile(0, 0xE364, {d}), 44100.0, std::nullopt, c, error)) << error;
    EXPECT_EQ(c.events[0].frame, 44100);
}

TEST(MidiFile, RefusesBrokenFilesWithAReason) {
    auto header = [](uint32_t length, uint16_t format, uint16_t tracks, uint16_t division) {
        Bytes b{'M', 'T', 'h', 'd'};
        test::appendBigEndian(b, length, 4);
        test::appendBigEndian(b, format, 2);
        test::appendBigEndian(b, tracks, 2);
        test::appendBigEndian(b, division, 2);
        return b;
    };
    auto oneTrack = [](std::initializer_list<uint8_t> data) {
        TrackBuilder t;
        t.data = data;
        return smfFile(0, 96, {t});
    };
    TrackBuilder ok;
    ok.event(0, {0x90, 60, 1}).end();
    Bytes cutShort = smfFile(0, 96, {ok});
    cutShort.pop_back();
    TrackBuilder beyond;
    beyond.tempo(0, 0xFFFFFF).event(0x0FFFFFFF, {0x90, 60, 1});

    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{}, "not a Standard MIDI File"},
        {header(5, 0, 1, 96), "invalid header length 5"},
        {header(6, 3, 1, 96), "unknown file format 3"},
        {header(6, 1, 0, 96), "declares no tracks"},
        {header(6, 0, 1, 0), "0 ticks per quarter note"},
        {header(6, 0, 1, 0xE928), "invalid SMPTE division (23 frames per second"},
        {smfFile(1, 96, {ok}, 2), "declares 2 track(s) but the file ends after 1"},
        {cutShort, "chunk at byte 0xe declares 8 bytes but the file ends after 7"},
        {oneTrack({0x00, 0x90, 0x3C}), "track 1, byte 0x16: the track ends inside an event"},
        {oneTrack({0x00, 0x3C, 0x40}), "data byte 0x3c without a status byte before it"},
        {oneTrack({0x00, 0x90, 0x3C, 0x90}), "status byte 0x90 inside a channel message"},
        {oneTrack({0x00, 0xF8}), "status byte 0xf8 is not allowed in a MIDI file"},
        {oneTrack({0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x03, 0x00, 0x3C, 0x00}), "without a status byte"},
        {oneTrack({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 0x3C, 0x40}), "delta time longer than 4 bytes"},
        {oneTrack({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1}), "tempo event of 2 bytes instead of 3"},
        {oneTrack({0x00, 0xFF, 0x51, 0x03, 0x00, 0x00, 0x00}), "tempo of 0 microseconds"},
        {oneTrack({0x00, 0xFF, 0x01, 0x10, 'a', 'b'}), "the track ends inside an event"},
        {smfFile(0, 1, {beyond}), "beyond any plausible length"},
    };
    for (const auto& [bytes, message] : cases) {
        MidiFileContents c;
        std::string error;
        EXPECT_FALSE(parseMidiFile(bytes, 44100.0, std::nullopt, c, error)) << message;
        EXPECT_NE(error.find(message), std::string::npos) << "expected: " << message << "\ngot: " << error;
    }
    MidiFileContents c;
    std::string error;
    EXPECT_FALSE(readMidiFile("/nonexistent/file.mid", 44100.0, std::nullopt, c, error));
    EXPECT_EQ(error, "cannot read MIDI file: cannot open /nonexistent/file.mid: No such file or directory");
}

}  // namespace
}  // namespace kf::host
