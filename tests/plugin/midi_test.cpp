// MIDI intake: queue timing, held notes, controllers, bend and learn maps.
#include <gtest/gtest.h>

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
    std::vector<float> sorted() const {
        std::vector<float> v;
        for (int i = 0; i < midi.sortedCount(); ++i) v.push_back(midi.sortedNote(i));
        return v;
    }
};

TEST_F(Midi, HostEventListIsQueuedInTimeOrder) {
    vst::VstMidiEvent a{}, b{}, sysex{};
    a.type = b.type = vst::kVstMidiType;
    sysex.type = vst::kVstSysExType;
    a.midiData[0] = static_cast<char>(0x90), a.midiData[1] = 60, a.midiData[2] = 100, a.deltaFrames = 40;
    b.midiData[0] = static_cast<char>(0x90), b.midiData[1] = 62, b.midiData[2] = 100, b.deltaFrames = 3;
    struct {
        int32_t numEvents;
        intptr_t reserved;
        vst::VstEvent* events[3];
    } list{3,
           0,
           {reinterpret_cast<vst::VstEvent*>(&a), reinterpret_cast<vst::VstEvent*>(&sysex),
            reinterpret_cast<vst::VstEvent*>(&b)}};
    EXPECT_EQ(midi.processEvents(reinterpret_cast<vst::VstEvents*>(&list)), 1);
    ASSERT_EQ(midi.queuedEvents(), 2u);
    EXPECT_EQ(midi.queue().at(0).data1, 62);
    EXPECT_EQ(midi.queue().at(0).delta, 3);
    EXPECT_EQ(midi.queue().at(1).delta, 37);
    block();
    EXPECT_TRUE(midi.keyHeld(62));
    EXPECT_FALSE(midi.keyHeld(60));
    // The head's overshoot is not carried on: 37 frames after the first event means the
    // boundary after next.
    block();
    EXPECT_FALSE(midi.keyHeld(60));
    block();
    EXPECT_TRUE(midi.keyHeld(60));
}

TEST_F(Midi, EventsAreHandledAtTheBoundaryTheyFallIn) {
    send(0x90, 60, 100, 10);
    send(0x90, 64, 100, 15);
    block();
    EXPECT_EQ(sorted(), std::vector<float>{60});
    block();  // the second's remaining 5 frames are counted down here
    EXPECT_EQ(sorted(), (std::vector<float>{60, 64}));
}

TEST_F(Midi, VelocityZeroIsANoteOff) {
    send(0x90, 60, 100);
    block();
    send(0x93, 60, 0);
    block();
    EXPECT_EQ(midi.sortedCount(), 0);
    EXPECT_EQ(info.lastVelocityWeight, 0.0f);
    EXPECT_FALSE(midi.keyHeld(60));
}

TEST_F(Midi, FourLowestNotesAreVoicesAndTheSortIsComplete) {
    for (uint8_t n : {60, 64, 67, 72, 48}) send(0x90, n, 100);
    block();
    EXPECT_EQ(sorted(), (std::vector<float>{48, 60, 64, 67, 72}));
    EXPECT_EQ(midi.heldCount(), 5.0f);
    EXPECT_EQ(info.lastNote, 48.0f);
    EXPECT_NEAR(info.lastVelocityWeight, 100.0f / 128.0f, 1e-5f);
    send(0x80, 48, 0);
    block();
    EXPECT_EQ(sorted(), (std::vector<float>{60, 64, 67, 72}));
    EXPECT_EQ(info.lastNote, 72.0f);  // the most recent still-held note
}

TEST_F(Midi, ANoteOffBeforeItsNoteOnWasHandledCancelsIt) {
    send(0x90, 60, 100, 20);
    send(0x80, 60, 0, 2);  // handled first: the note is not held, so the queued on goes
    block();
    block();
    EXPECT_EQ(midi.sortedCount(), 0);
    EXPECT_EQ(midi.queuedEvents(), 0u);
    EXPECT_EQ(target.noteChanges, 0);
}

TEST_F(Midi, ANoteOffAfterItsNoteOnReleasesItAtALaterBoundary) {
    send(0x90, 60, 100, 5);
    send(0x80, 60, 0, 6);
    block();
    EXPECT_EQ(midi.sortedCount(), 1);
    block();
    EXPECT_EQ(midi.sortedCount(), 0);
    EXPECT_FALSE(midi.keyHeld(60));
}

TEST_F(Midi, AllNotesOffOnlyOnTheFirstChannel) {
    send(0x90, 60, 100);
    send(0x90, 61, 100);
    block();
    send(0xB1, 123, 0);  // channel 2: an ordinary controller
    block();
    EXPECT_EQ(midi.sortedCount(), 2);
    send(0xB0, 123, 0);
    block();
    EXPECT_EQ(midi.sortedCount(), 0);
    EXPECT_EQ(midi.writeIndex(), 0);
    EXPECT_TRUE(midi.keyHeld(60)) << "the key mask keeps what the keyboard shows";
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

TEST_F(Midi, ProgramChangesNeedTheSettingOff) {
    send(0xC0, 5, 0);
    EXPECT_EQ(midi.queuedEvents(), 0u);
    midi.setIgnoreProgramChange(0.0f);
    send(0xC0, 5, 0);
    block();
    EXPECT_EQ(midi.programNumber(), 5.0f);
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
}

TEST_F(Midi, ChannelPressureHasItsOwnMap) {
    midi.armLearn(9);
    send(0xD0, 64, 0);
    block();
    ASSERT_EQ(midi.map(MidiIntake::kPressureMap).size(), 1u);
    EXPECT_NEAR(target.last(9), 64.0f / 127.0f, 1e-7f);
    midi.removeTag(9);  // clearing a knob leaves channel pressure alone
    EXPECT_EQ(midi.map(MidiIntake::kPressureMap).size(), 1u);
}

TEST_F(Midi, ModulationWheelAlwaysDrivesModwheel) {
    send(0xB0, 1, 127);
    block();
    EXPECT_EQ(target.last(12), 1.0f);
}

TEST_F(Midi, MapEditingDropsControllersButNotNotes) {
    midi.setMapEditing(true);
    send(0xB0, 7, 100);
    send(0xD0, 7, 0);
    send(0x90, 60, 100);
    EXPECT_EQ(midi.queuedEvents(), 1u);
    midi.setMapEditing(false);
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

TEST_F(Midi, KeyboardNotesAreSentOnceAndOnlyWhenValid) {
    midi.postKeyboardNoteOn(60, 90);
    midi.postKeyboardNoteOff(300, 0);
    midi.sendKeyboardNotes();
    midi.sendKeyboardNotes();
    EXPECT_EQ(midi.queuedEvents(), 1u);
}

TEST(ControllerNames, TableAsShipped) {
    EXPECT_STREQ(MidiIntake::controllerName(0), "Banksel");
    EXPECT_STREQ(MidiIntake::controllerName(74), "Cut-off");
    EXPECT_STREQ(MidiIntake::controllerName(84), "Porta ");
    EXPECT_STREQ(MidiIntake::controllerName(118), "#118");
    EXPECT_STREQ(MidiIntake::controllerName(127), "Poly ON");
    EXPECT_STREQ(MidiIntake::controllerName(128), "");
}

}  // namespace
}  // namespace kf
