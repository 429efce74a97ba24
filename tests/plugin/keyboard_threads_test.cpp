// The on-screen keyboard played on the editor's thread while the audio thread processes:
// nothing races, and every note the mouse played is released.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "editor/layout.h"
#include "editor/uniclient_editor.h"
#include "plugin/fake_host.h"

namespace kf::test {
namespace {

TEST(KeyboardThreads, PlayingWhileTheAudioThreadProcessesLeavesNoNoteOn) {
    FakeHost host;
    auto c = makeNeutralInstance(host);
    auto& editor = *dynamic_cast<editor::TMUniClientEditor*>(c->getEditor());
    ASSERT_TRUE(editor.openOn(std::make_unique<gui::OffscreenWindow>(editor::kWidth, editor::kHeight)));
    std::atomic<int> blocks{0};
    std::atomic<bool> playing{true};
    std::thread audio([&] {
        std::array<float, 128> in{}, l{}, r{};
        float* inputs[2] = {in.data(), in.data()};
        float* outputs[2] = {l.data(), r.data()};
        for (; playing.load(); blocks.fetch_add(1)) c->processReplacing(inputs, outputs, 128);
    });

    std::mt19937 random(7);
    for (int event = 0; event < 1800; ++event) {
        gui::Event e;
        // Gestures of a press, four moves and a release.
        const int step = event % 6;
        e.kind = step == 0   ? gui::Event::Kind::MouseDown
                 : step == 5 ? gui::Event::Kind::MouseUp
                             : gui::Event::Kind::MouseMove;
        e.pos = {std::uniform_int_distribution(120, 500)(random),
                 std::uniform_int_distribution(330, 404)(random)};
        e.button = gui::MouseButton::Left;
        dynamic_cast<gui::OffscreenWindow&>(editor.frame()->window()).inject(e);
        editor.idle();
    }
    // The audio thread takes the last releases before it stops.
    for (const int seen = blocks.load(); blocks.load() < seen + 3;) std::this_thread::yield();
    playing.store(false);
    audio.join();
    EXPECT_EQ(c->midi().sortedCount(), 0);
}

}  // namespace
}  // namespace kf::test
