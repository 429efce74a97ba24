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
    auto& window = dynamic_cast<gui::OffscreenWindow&>(editor.frame()->window());

    std::atomic<bool> playing{true};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        std::array<float, 128> in{}, l{}, r{};
        float* inputs[2] = {in.data(), in.data()};
        float* outputs[2] = {l.data(), r.data()};
        while (playing.load()) {
            c->processReplacing(inputs, outputs, 128);
            blocks.fetch_add(1);
        }
    });

    std::mt19937 random(7);
    auto send = [&](gui::Event::Kind kind, gui::MouseButton button) {
        gui::Event e;
        e.kind = kind;
        e.pos = {std::uniform_int_distribution(120, 500)(random),
                 std::uniform_int_distribution(330, 404)(random)};
        e.button = button;
        window.inject(e);
        editor.idle();
    };
    for (int gesture = 0; gesture < 300; ++gesture) {
        send(gui::Event::Kind::MouseDown, gui::MouseButton::Left);
        for (int move = 0; move < 4; ++move) send(gui::Event::Kind::MouseMove, gui::MouseButton::None);
        send(gui::Event::Kind::MouseUp, gui::MouseButton::Left);
    }
    // Let the audio thread take the last releases before it stops.
    for (const int seen = blocks.load(); blocks.load() < seen + 3;) std::this_thread::yield();
    playing.store(false);
    audio.join();
    editor.close();

    EXPECT_EQ(c->midi().sortedCount(), 0);
    for (int note = 0; note < 128; ++note) EXPECT_FALSE(c->midi().keyHeld(note)) << note;
}

}  // namespace
}  // namespace kf::test
