// MIDI intake: queue timing, held notes, controllers, bend and learn maps.
#include <gtest/gtest.h>

#include <array>
#include <tuple>
#include <vector>

#include "plugin/midi_intake.h"

namespace kf {
namespace {

struct Recorder : MidiTarget {
    void setParameter(int32_t tag, float value) override { calls.emplace_back(tag, value); }
    void heldNotesChanged() override { ++noteChanges; }
    std::vector<std::pair<int32_t, float>> calls;
    int noteChanges = 0;
    float last(int32_t tag) const {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it)
            if (it->first == tag) return it->second;
        return -99.0f;
    }
};

class Midi : public ::testing::Test {
  protected:
    TMSystemInfo info;
    Recorder target;
    MidiIntake midi{info, target};

    void send(uint8_t status, uint8_t d1, uint8_t d2, int32_t delta = 0) {
        midi.queueMessage(status, d1, d2, delta);
    }
    void block() { midi.dispatch(32); }
};

TEST_F(Midi, HostEventListIsQueuedInTimeOrder) {
    vst::VstMidiEvent a{}, b{}, sysex{};
    sysex.type = vst::kVstSysExType;
    for (auto [e, note, delta] : {std::tuple{&a, 60, 40}, {&b, 62, 3}}) {
        e->type = vst::kVstMidiType;
        e->deltaFrames = delta;
        e->midiData[0] = static_cast<char>(0x90), e->midiData[1] = static_cast<char>(note),
        e->midiData[2] = 100;
    }
    struct {
        int32_t numEvents;
        intptr_t reserved;
        void* events[3];
    } list{3, 0, {&a, &sysex, &b}};
    EXPECT_EQ(midi.processEvents(reinterpret_cast<vst::VstEvents*>(&list)), 1);
    ASSERT_EQ(midi.queuedEvents(), 2u);
    EXPECT_EQ(midi.queue().at(0).data1, 62);
    EXPECT_EQ(midi.queue().at(0).delta, 3);
    EXPECT_EQ(midi.queue().at(1).delta, 37);
    // The head's overshoot is not carried on: 37 frames after the first event means the
    // boundary after next.
    for (bool held60 : {false, false, true}) {
        block();
        EXPECT_TRUE(midi.keyHeld(62));
        EXPECT_EQ(midi.keyHeld(60), held60);
    }
}

using Message = std::array<int, 4>;  // status, data 1, data 2, frame offset
Message on(int note, int delta = 0) {
    return {0x90, note, 100, delta};
}
Message off(int note, int delta = 0) {
    return {0x80, note, 0, delta};
}

// Each step queues its messages, runs one 32-frame control block and names the notes then
// held, in the order the voices take them.
TEST_F(Midi, HeldNotesFollowTheMessagesAtTheirBoundaries) {
    struct Step {
        Step(std::vector<Message> m, std::vector<float> h) : messages(std::move(m)), held(std::move(h)) {}
        std::vector<Message> messages;
        std::vector<float> held;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"each event at the boundary it falls in",
         {Step({on(60, 10), on(64, 15)}, {60}), Step({}, {60, 64})}},
        {"velocity 0 is a note-off", {Step({on(60)}, {60}), Step({{0x93, 60, 0, 0}}, {})}},
        {"sorted, the four lowest first",
         {Step({on(60), on(64), on(67), on(72), on(48)}, {48, 60, 64, 67, 72}),
          Step({off(48)}, {60, 64, 67, 72})}},
        {"an off handled before its on cancels it", {Step({on(60, 20), off(60, 2)}, {}), Step({}, {})}},
        {"an off after its on releases later", {Step({on(60, 5), off(60, 6)}, {60}), Step({}, {})}},
        {"all notes off only on the first channel",
         {Step({on(60), on(61)}, {60, 61}), Step({{0xB1, 123, 0, 0}}, {60, 61}),
          Step({{0xB0, 123, 0, 0}}, {})}},
    };
    for (const auto& k : cases) {
        TMSystemInfo fresh;
        Recorder rec;
        MidiIntake intake(fresh, rec);
        for (std::size_t i = 0; i < k.steps.size(); ++i) {
            for (const auto& m : k.steps[i].messages)
                intake.queueMessage(uint8_t(m[0]), uint8_t(m[1]), uint8_t(m[2]), m[3]);
            intake.dispatch(32);
            std::vector<float> held;
            for (int n = 0; n < intake.sortedCount(); ++n) held.push_back(intake.sortedNote(n));
            EXPECT_EQ(held, k.steps[i].held) << k.name << ", step " << i;
        }
        EXPECT_EQ(intake.queuedEvents(), 0u) << k.name;
    }
}

// The most recent still-held note and its velocity weight are what the synthesizer follows.
TEST_F(Midi, LastNoteAndVelocityFollowTheHeldNotes) {
    for (uint8_t n : {60, 72, 48}) send(0x90, n, 100);
    block();
    EXPECT_EQ(info.lastNote, 48.0f);
    EXPECT_NEAR(info.lastVelocityWeight, 100.0f / 128.0f, 1e-5f);
    send(0x80, 48, 0);
    block();
    EXPECT_EQ(info.lastNote, 72.0f);
    send(0x90, 60, 0);
    send(0x90, 72, 0);
    block();
    EXPECT_EQ(info.lastVelocityWeight, 0.0f);
    EXPECT_FALSE(midi.keyHeld(60));
    send(0x90, 61, 100);
    block();
    send(0xB0, 123, 0);
    block();
    EXPECT_EQ(midi.sortedCount(), 0);
    EXPECT_EQ(midi.writeIndex(), 0);
    EXPECT_TRUE(midi.keyHeld(61)) << "the key mask keeps what the keyboard shows";
}

TEST_F(Midi, PitchBendUsesTheMostSignificantByteOnly) {
    send(0xE0, 0x7F, 0);
    block();
    EXPECT_EQ(info.pitchBend, -1.0f);
    EXPECT_EQ(target.last(104), 0.0f);
    send(0xE0, 0x00, 64);
    block();
    EXPECT_EQ(info.pitchBend, 0.0f);
    EXPECT_EQ(target.last(104), 0.5f);
    send(0xE0, 0x55, 127);
    block();
    EXPECT_EQ(info.pitchBend, 1.0f);
    const std::size_t calls = target.calls.size();
    send(0xE0, 0x11, 127);  // a different low byte is no change
    block();
    EXPECT_EQ(target.calls.size(), calls);
}

TEST_F(Midi, LearnThenControllerDrivesTheParameter) {
    send(0x90, 60, 100);
    block();
    midi.armLearn(20);
    send(0xB0, 74, 127);
    block();
    ASSERT_EQ(midi.map(74).size(), 1u);
    EXPECT_EQ(midi.map(74)[0].tag, 20);
    EXPECT_EQ(target.last(20), 1.0f);
    EXPECT_EQ(midi.learnTarget(), MidiIntake::kNoLearn);
    midi.armLearn(20);
    send(0xB0, 75, 0);
    block();
    EXPECT_EQ(midi.map(74).size(), 1u) << "a second learn keeps the first mapping";
    EXPECT_EQ(midi.map(75).size(), 1u);
    send(0xB0, 74, 0);
    block();
    EXPECT_EQ(target.last(20), 0.0f);
    midi.removeTag(20);
    EXPECT_TRUE(midi.map(74).empty());
    EXPECT_TRUE(midi.map(75).empty());
    send(0xB0, 1, 127);  // the modulation wheel needs no learning
    block();
    EXPECT_EQ(target.last(12), 1.0f);
    // Channel pressure has its own map, which clearing a knob leaves alone.
    midi.armLearn(9);
    send(0xD0, 64, 0);
    block();
    ASSERT_EQ(midi.map(MidiIntake::kPressureMap).size(), 1u);
    EXPECT_NEAR(target.last(9), 64.0f / 127.0f, 1e-7f);
    midi.removeTag(9);
    EXPECT_EQ(midi.map(MidiIntake::kPressureMap).size(), 1u);
}

// Program changes need the setting off; while the maps are edited controllers are dropped,
// notes not; the editor's keyboard sends each valid note once.
TEST_F(Midi, WhatIsQueuedFollowsTheSettings) {
    send(0xC0, 5, 0);
    midi.setMapEditing(true);
    send(0xB0, 7, 100);
    send(0xD0, 7, 0);
    send(0x90, 60, 100);
    EXPECT_EQ(midi.queuedEvents(), 1u);
    midi.setMapEditing(false);
    midi.setIgnoreProgramChange(0.0f);
    send(0xC0, 5, 0);
    midi.postKeyboardNoteOn(61, 90);
    midi.postKeyboardNoteOff(300, 0);
    midi.sendKeyboardNotes();
    midi.sendKeyboardNotes();
    EXPECT_EQ(midi.queuedEvents(), 3u);
    block();
    EXPECT_EQ(midi.programNumber(), 5.0f);
}

// A data byte at or above 0x80 is not MIDI data: read as a signed byte it would drive learned
// parameters negative and bends below -1. Such a message is ignored, whatever its kind.
TEST_F(Midi, DataBytesAtOrAbove0x80AreIgnoredForEveryKind) {
    midi.setIgnoreProgramChange(0.0f);
    midi.appendPair(MidiIntake::kPressureMap, 3, 0);
    for (uint8_t status : {0x90, 0x80, 0xB0, 0xE0, 0xD0, 0xC0}) {
        send(status, 0xC8, 100);
        if (status != 0xD0 && status != 0xC0) send(status, 60, 0x80);  // two-byte kinds
    }
    EXPECT_EQ(midi.queuedEvents(), 0u);
    // The second byte of a one-byte message is not looked at.
    send(0xD0, 64, 0xFF);
    send(0x90, 60, 100, -50);  // a negative offset is "now"
    block();
    EXPECT_TRUE(midi.keyHeld(60));
    ASSERT_EQ(target.calls.size(), 1u);
    EXPECT_EQ(target.last(3), 64.0f / 127.0f);
}

TEST_F(Midi, AFullQueueNeverLosesAReleaseAndNeverGrows) {
    send(0x90, 60, 100);
    block();
    for (std::size_t i = 0; i < MidiQueue::kCapacity; ++i) send(0xB0, 7, 1, 100000);
    ASSERT_EQ(midi.queuedEvents(), MidiQueue::kCapacity);
    send(0xB0, 7, 2, 100000);
    EXPECT_EQ(midi.droppedEvents(), 1u);
    send(0x80, 60, 0, 100000);
    EXPECT_FALSE(midi.keyHeld(60));
    EXPECT_EQ(midi.sortedCount(), 0) << "applied at once instead of dropped";
    EXPECT_EQ(midi.droppedEvents(), 1u);
}

// With no block to take them, the keyboard's notes fill its ring: note-ons are refused first,
// so the release of every note it turned on still fits. A note played again before its
// release starts a fresh voice instead of stacking a second one.
TEST_F(Midi, TheKeyboardAlwaysKeepsRoomForTheReleasesItOwes) {
    int on = 0;
    for (int n = 0; n < 100; ++n) on += midi.postKeyboardNoteOn(n, 100);
    EXPECT_EQ(on, 32);
    EXPECT_FALSE(midi.postKeyboardNoteOff(100, 0)) << "the room left is owed to the held notes";
    for (int n = 0; n < on; ++n) ASSERT_TRUE(midi.postKeyboardNoteOff(n, 0)) << n;
    midi.sendKeyboardNotes();
    EXPECT_TRUE(midi.postKeyboardNoteOn(60, 100));
    EXPECT_TRUE(midi.postKeyboardNoteOn(60, 90));
    midi.sendKeyboardNotes();
    block();
    ASSERT_EQ(midi.sortedCount(), 1);
    EXPECT_EQ(midi.sortedNote(0), 60.0f);
}

TEST_F(Midi, AllSlotsTakenReplacesTheSlotAtTheWriteIndex) {
    for (int n = 0; n < 32; ++n) send(0x90, static_cast<uint8_t>(40 + n), 100);
    block();
    EXPECT_EQ(midi.writeIndex(), 0);
    send(0x90, 100, 100);
    block();
    EXPECT_EQ(midi.slot(0).note, 100.0f);
    EXPECT_EQ(midi.heldCount(), 33.0f);
    EXPECT_EQ(midi.sortedCount(), 32);
}

}  // namespace
}  // namespace kf
