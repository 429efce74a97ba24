// The editor's thread against the audio thread and a loading thread, as hosts run them: the
// audio thread handles learned controllers (which drive knobs and the panel choices) and
// follows tempo changes, another thread loads states, and the editor opens, idles, drags a
// knob, glides over the keyboard and turns the overlay's pages meanwhile, its band display
// taking the levels the audio thread publishes. Built for
// ThreadSanitizer, which must find nothing; elsewhere it checks that every thread finishes,
// the editor shows the last state and no note the mouse played is left on.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "editor/band_display.h"
#include "support/editor_fixture.h"

namespace kf::test {
namespace {

// A left-button event at `at`.
void send(editor::TMUniClientEditor& editor, gui::Event::Kind kind, gui::Point at) {
    static uint32_t time = 0;
    gui::Event e;
    e.kind = kind;
    e.pos = at;
    e.button = gui::MouseButton::Left;
    e.time = time += 1000;
    editor.frame()->dispatch(e);
}

TEST(EditorThreads, LearnedControllersTempoAndLoadsRunAgainstTheEditor) {
    FakeHost host;
    host.hasTime = true;
    host.time.tempo = 120.0;
    auto instance = makeDefaultInstance(host);
    TMUniClient& c = *instance;
    c.setSampleRate(44100.0f);
    c.resume();
    for (auto [controller, tag] :
         {std::pair{74, tag::cutoff}, {75, tag::effects_choice}, {76, tag::carrier_mode}})
        ASSERT_TRUE(c.assignController(tag, controller, 0));
    const Words state = chunkOf(c);
    auto& editor = editorOf(c);

    std::atomic<bool> running{true};
    std::atomic<int> blocks{0}, loads{0};
    std::thread audio([&] {
        std::vector<float> in(64), left(64), right(64);
        for (std::size_t i = 0; i < in.size(); ++i) in[i] = i % 8 < 4 ? 0.3f : -0.3f;  // bands to show
        float* inputs[] = {in.data(), in.data()};
        float* outputs[] = {left.data(), right.data()};
        for (int i = 0; running.load(std::memory_order_relaxed); ++i) {
            const auto v = static_cast<uint8_t>(i % 128);
            sendMidi(c, {{0xB0, 74, v}, {0xB0, 75, v}, {0xB0, 76, static_cast<uint8_t>(127 - v)}});
            host.time.tempo = 90.0 + i % 60;  // the host answers from this thread
            c.processReplacing(inputs, outputs, 64);
            blocks.fetch_add(1, std::memory_order_relaxed);
        }
    });
    std::thread loader([&] {
        // A few loads even when the editor's rounds end before this thread is scheduled.
        for (int i = 0; i < 4 || running.load(std::memory_order_relaxed); ++i) {
            if (loadChunk(c, state)) loads.fetch_add(1, std::memory_order_relaxed);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    std::mt19937 random(7);
    bool bandsShown = false;
    for (int round = 0; round < 40; ++round) {
        ASSERT_TRUE(editor.openOn(std::make_unique<gui::OffscreenWindow>(editor::kWidth, editor::kHeight)));
        editor.idle();
        editor.idle();
        bandsShown = bandsShown || dynamic_cast<editor::BandDisplay&>(*editor.viewOf(107)).isLive();
        c.setParameter(tag::carrier_mode,
                       static_cast<float>(round % 4) * 0.25f);  // host automation of a learned mode
        if (round % 2 == 0) {  // the main page is up: drag the focus knob, glide over the keys
            const gui::Point knob = middleOf(editor.viewOf(tag::focus)->rect());
            send(editor, gui::Event::Kind::MouseDown, knob);
            send(editor, gui::Event::Kind::MouseMove, {knob.x, knob.y - 10});
            editor.idle();
            send(editor, gui::Event::Kind::MouseUp, {knob.x, knob.y - 10});
            for (int step = 0; step < 30; ++step) {  // gestures of a press, four moves and a release
                using Kind = gui::Event::Kind;
                send(editor,
                     step % 6 == 0   ? Kind::MouseDown
                     : step % 6 == 5 ? Kind::MouseUp
                                     : Kind::MouseMove,
                     {std::uniform_int_distribution(120, 500)(random),
                      std::uniform_int_distribution(330, 404)(random)});
                editor.idle();
            }
        }
        for (int32_t t : {tag::settings_c, round % 3 == 0 ? tag::tnt_c : tag::basics_c}) {
            send(editor, gui::Event::Kind::MouseDown, middleOf(editor.viewOf(t)->rect()));
            send(editor, gui::Event::Kind::MouseUp, middleOf(editor.viewOf(t)->rect()));
            editor.idle();
        }
        editor.close();
    }
    // The audio thread takes the last releases before it stops.
    for (const int seen = blocks.load(); blocks.load() < seen + 3;) std::this_thread::yield();
    running.store(false);
    audio.join();
    loader.join();

    EXPECT_GT(blocks.load(), 0);
    EXPECT_GT(loads.load(), 0);
    EXPECT_TRUE(bandsShown);
    EXPECT_EQ(host.beginEdits.size(), host.endEdits.size());
    EXPECT_EQ(c.midi().sortedCount(), 0);
    EXPECT_EQ(c.editorLink().overlay(), editor::Overlay::Off) << "an even number of info clicks";
}

}  // namespace
}  // namespace kf::test
