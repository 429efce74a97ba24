// Learn-map edits and state saves on another thread while the audio thread handles
// controllers: nothing races, and no controller event is lost.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "plugin/midi_intake.h"

namespace kf {
namespace {

constexpr int32_t kLearned = 5, kEdited = 9;

// Called on the audio thread only; read after it has been joined.
struct Recorder : MidiTarget {
    void setParameter(int32_t tag, float value) override {
        if (tag == kLearned) applied.push_back(value);
    }
    void heldNotesChanged() override {}
    std::vector<float> applied;
};

TEST(LearnMapThreads, EditsAndSavesWhileTheAudioThreadRunsLoseNoController) {
    TMSystemInfo info;
    Recorder target;
    MidiIntake midi(info, target);
    ASSERT_TRUE(midi.appendPair(7, kLearned, 0));

    constexpr int kEvents = 20000;
    std::atomic<bool> editing{true};
    std::thread audio([&] {
        for (int i = 0; i < kEvents; ++i) {
            // A host's blocks take time: while the maps are busy, far fewer events than the
            // queue holds can arrive. Without this pacing a slow (instrumented) editor thread
            // would let this loop fill the queue, which drops what it cannot hold.
            while (midi.queuedEvents() >= 512) {
                midi.dispatch(32);
                std::this_thread::yield();
            }
            midi.queueMessage(0xB0, 7, static_cast<uint8_t>(i % 128), 0);
            midi.dispatch(32);
        }
        // Events kept back while the maps were busy go out once the editor is done.
        while (editing.load() || midi.queuedEvents() > 0) midi.dispatch(32);
    });

    std::array<std::vector<LearnPair>, MidiIntake::kMaps> saved;
    int torn = 0;
    for (int round = 0; round < 2000; ++round) {
        midi.appendPair(7, kEdited, 0);  // an option menu's assignment
        midi.copyMaps(saved);            // a host saving its project
        const auto& map = saved[7];
        torn += map.empty() || map.size() > 2 || map[0].tag != kLearned ||
                (map.size() == 2 && map[1].tag != kEdited);
        midi.removeTag(kEdited);  // the knob menu's "clear"
    }
    editing.store(false);
    audio.join();

    EXPECT_EQ(torn, 0);
    ASSERT_EQ(midi.map(7).size(), 1u);
    ASSERT_EQ(target.applied.size(), static_cast<std::size_t>(kEvents));
    for (int i = 0; i < kEvents; ++i)
        ASSERT_EQ(target.applied[static_cast<std::size_t>(i)], static_cast<float>(i % 128) / 127.0f) << i;
}

}  // namespace
}  // namespace kf
