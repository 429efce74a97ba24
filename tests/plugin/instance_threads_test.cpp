// Whole instances under the threads a host runs: per instance a host thread automates every
// host parameter and the panel choices (so each insert effect runs in turn), while the audio
// thread plays notes, bends and learned controllers at a changing tempo; in the second test a
// third thread saves and loads states meanwhile. Two instances run side by side, as in a project with two
// tracks. Built for ThreadSanitizer, which must find nothing; elsewhere it checks that the output stays
// finite and that no working value is left stale: once the threads are done and one more block has run, every
// voice plays its note's pitch at its note's gain and the effects run at the last values set.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "fake_host.h"

namespace kf::test {
namespace {

constexpr int kInstances = 2;
constexpr int kRounds = 150;

// Learned on the audio thread: an effect parameter the host automates too, and the effect choice.
constexpr uint8_t kFeedbackController = 74, kChoiceController = 75;

struct Tracks {
    FakeHost host;
    std::vector<std::unique_ptr<TMUniClient>> instances;
    std::vector<Words> states;  // two different states to load in turn

    Tracks() {
        host.hasTime = true;
        for (int i = 0; i < kInstances; ++i) {
            auto c = makeInstance(host);
            c->setSampleRate(44100.0f);
            c->resume();
            EXPECT_TRUE(c->assignController(tag::delay_feedback, kFeedbackController, 0));
            EXPECT_TRUE(c->assignController(tag::effects_choice, kChoiceController, 0));
            instances.push_back(std::move(c));
        }
        TMUniClient& first = *instances[0];
        states.push_back(chunkOf(first));
        setAll(first, {Value(tag::effects_choice, 0.4f), Value(tag::modulator_mode, 1.0f),
                       Value(tag::carrier_mode, 1.0f), Value(tag::delaytime, 0.3f)});
        states.push_back(chunkOf(first));
    }
};

// The audio thread of one instance: notes on and off (so voices are taken and released all the
// time), pitch bend, the learned controllers, tempo changes (which retime the delay and the
// phaser), and blocks of sizes that end inside control blocks.
void playAudio(TMUniClient& c, const std::atomic<bool>& running, std::atomic<int>& nonFinite) {
    vst::VstTimeInfo time{};
    time.flags = vst::kVstTransportPlaying;
    FakeHost::threadTime = &time;
    std::vector<float> in(100, 0.1f), left(100), right(100);
    float* inputs[] = {in.data(), in.data()};
    float* outputs[] = {left.data(), right.data()};
    for (int block = 0; running.load(std::memory_order_relaxed); ++block) {
        time.tempo = 90.0 + block % 60;
        const auto v = static_cast<uint8_t>(block % 128);
        sendMidi(c, {{0x90, static_cast<uint8_t>(48 + block % 24), 100},
                     {0x80, static_cast<uint8_t>(48 + (block + 19) % 24), 0},
                     {0xE0, 0, v},
                     {0xB0, kFeedbackController, v},
                     {0xB0, kChoiceController, static_cast<uint8_t>(127 - v)}});
        const int frames = (block % 3 == 0) ? 100 : (block % 3 == 1) ? 37 : 64;
        c.processReplacing(inputs, outputs, frames);
        for (int i = 0; i < frames; ++i)
            nonFinite += !std::isfinite(left[static_cast<std::size_t>(i)]) ||
                         !std::isfinite(right[static_cast<std::size_t>(i)]);
    }
}

// The host's automation of one instance: every host parameter, the effect choice and the routing.
void automate(TMUniClient& c) {
    for (int round = 0; round < kRounds; ++round) {
        for (int32_t t = 0; t < kNumHostParameters; ++t) {
            c.setParameter(t, static_cast<float>((round * 7 + t * 13) % 41) / 40.0f);
            (void)c.getParameter(t);
        }
        c.setParameter(tag::effects_choice, static_cast<float>(round % 5) * 0.2f);
        c.setParameter(tag::carrier_mode, static_cast<float>(round % 4) * 0.25f);
        c.setParameter(tag::modulator_mode, static_cast<float>(round % 3) * 0.34f);
    }
}

// Nothing the threads left behind is stale: the working values follow the last values set.
void expectSettled(TMUniClient& c) {
    std::vector<float> in(32, 0.0f), left(32), right(32);
    float* inputs[] = {in.data(), in.data()};
    float* outputs[] = {left.data(), right.data()};
    c.processReplacing(inputs, outputs, 32);

    const SynthControls& synth = c.synth();
    const TMSystemInfo& info = c.engine().systemInfo();
    for (int v = 0; v < SynthControls::kVoices; ++v) {
        const SynthVoice& voice = synth.voice(v);
        EXPECT_EQ(voice.note, c.midi().sortedNote(v)) << v;
        EXPECT_EQ(voice.gain, voice.velocityWeight * synth.level() *
                                  SynthControls::kVoiceScale[static_cast<std::size_t>(v)])
            << "voice " << v << " kept a gain its note and level do not give";
        EXPECT_EQ(voice.increment,
                  info.frequencyOfNote(std::clamp(voice.note + synth.transpose(), 1.0f, 127.0f)))
            << "voice " << v << " kept an old pitch";
    }
    EXPECT_EQ(c.sampler().gain(), c.sampler().triggerValue() * c.sampler().level());

    // Every effect takes the values handed to it, chosen or not.
    for (int choice = kReverbChoice; choice <= kLofiChoice; ++choice) c.effect(choice)->takeParameters();
    const TMDelay& delay = c.effects().delay;
    EXPECT_EQ(delay.feedback(), 0.98f * clampUnit(delay.parameterValue(1)));
    EXPECT_EQ(delay.width(), clampUnit(delay.parameterValue(2)));
}

void runTracks(bool loadStates) {
    Tracks tracks;
    std::atomic<bool> running{true};
    std::atomic<int> nonFinite{0}, loads{0};
    std::vector<std::thread> audio, hosts;
    for (auto& c : tracks.instances) {
        audio.emplace_back(playAudio, std::ref(*c), std::cref(running), std::ref(nonFinite));
        hosts.emplace_back(automate, std::ref(*c));
    }
    std::thread loader;
    if (loadStates)
        loader = std::thread([&] {
            // A few rounds even when the other threads finish before this one is scheduled.
            for (int i = 0; i < 4 || running.load(std::memory_order_relaxed); ++i) {
                for (auto& c : tracks.instances) {
                    loads += loadChunk(*c, tracks.states[static_cast<std::size_t>(i % 2)]);
                    (void)chunkOf(*c);  // a host saving its project
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    for (auto& t : hosts) t.join();
    running.store(false);
    for (auto& t : audio) t.join();
    if (loader.joinable()) loader.join();

    EXPECT_EQ(nonFinite.load(), 0);
    if (loadStates) {
        EXPECT_GT(loads.load(), 0);
    }
    for (auto& c : tracks.instances) expectSettled(*c);
}

TEST(ConcurrentHost, AutomationNotesAndLearnedControllersAgainstTheAudioThread) {
    runTracks(false);
}

TEST(ConcurrentHost, StateLoadsAgainstAutomationAndTheAudioThread) {
    runTracks(true);
}

}  // namespace
}  // namespace kf::test
