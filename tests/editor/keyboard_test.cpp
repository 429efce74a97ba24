// The on-screen keyboard played with the mouse through a whole instance: where each press
// lands, the octave buttons, latches, and that no note the mouse plays outlives its gesture.
#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <random>

#include "editor/keyboard_view.h"
#include "editor/layout.h"
#include "editor/uniclient_editor.h"
#include "plugin/fake_host.h"

namespace kf::test {
namespace {

using editor::KeyboardView;
using gui::MouseButton;
using Kind = gui::Event::Kind;

constexpr gui::Rect kKeys{128, 338, 492, 403};

gui::Event mouseEvent(Kind kind, gui::Point at, MouseButton button) {
    gui::Event e;
    e.kind = kind;
    e.pos = at;
    e.button = button;
    return e;
}

void block(TMUniClient& c, int frames = 64) {
    std::vector<float> in(static_cast<std::size_t>(frames)), l(in.size()), r(in.size());
    float* inputs[2] = {in.data(), in.data()};
    float* outputs[2] = {l.data(), r.data()};
    c.processReplacing(inputs, outputs, frames);
}

TEST(KeyboardGeometry, KeysVelocityAndTransposeLimits) {
    using namespace editor::keys;
    // Black keys sit over the top 40 px; below them, and beside them, the white keys.
    EXPECT_EQ(offsetAt({0, 0}), 0);
    EXPECT_EQ(offsetAt({8, 39}), 1);
    EXPECT_EQ(offsetAt({8, 40}), 0);
    EXPECT_EQ(offsetAt({18, 10}), 2);
    EXPECT_EQ(offsetAt({47, 10}), 6);
    EXPECT_EQ(offsetAt({91 + 21, 0}), 15);
    EXPECT_EQ(offsetAt({3 * 91 + 82, 39}), 46);
    EXPECT_EQ(offsetAt({363, 64}), 47);
    EXPECT_EQ(offsetAt({364, 10}), -1);
    EXPECT_EQ(offsetAt({10, 65}), -1);
    EXPECT_EQ(velocityAt(0), 27);
    EXPECT_EQ(velocityAt(33), 77);
    EXPECT_EQ(velocityAt(64), 125);
    EXPECT_EQ(velocityAt(500), 127);

    float up = 36.0f, down = 36.0f;
    for (int i = 0; i < 4; ++i) up = transposed(up, 1), down = transposed(down, -1);
    EXPECT_EQ(up, 72.0f) << "the top key stays at most 119";
    EXPECT_EQ(down, 12.0f) << "the lowest key stays above 0";
}

class Keyboard : public ::testing::Test {
  protected:
    void SetUp() override {
        c = makeNeutralInstance(host);
        open();
    }
    editor::TMUniClientEditor& editor() { return *dynamic_cast<editor::TMUniClientEditor*>(c->getEditor()); }
    void open() {
        ASSERT_TRUE(editor().openOn(std::make_unique<gui::OffscreenWindow>(editor::kWidth, editor::kHeight)));
        editor().idle();
    }
    KeyboardView& keyboard() { return *dynamic_cast<KeyboardView*>(editor().viewOf(101)); }
    void send(Kind kind, gui::Point at, MouseButton button = MouseButton::Left) {
        dynamic_cast<gui::OffscreenWindow&>(editor().frame()->window()).inject(mouseEvent(kind, at, button));
        editor().idle();
    }
    void click(gui::Point at, MouseButton button = MouseButton::Left) {
        send(Kind::MouseDown, at, button);
        send(Kind::MouseUp, at, button);
    }
    uint32_t pixel(gui::Point p) {
        return dynamic_cast<gui::OffscreenWindow&>(editor().frame()->window()).surface().pixel(p.x, p.y);
    }
    FakeHost host;
    std::unique_ptr<TMUniClient> c;
};

TEST_F(Keyboard, APressPlaysItsKeyAtItsHeightUntilReleasedEvenOutsideTheWindow) {
    send(Kind::MouseDown, {kKeys.left + 2, kKeys.top + 33});
    block(*c);
    ASSERT_TRUE(c->midi().keyHeld(36));
    ASSERT_EQ(c->midi().sortedCount(), 1);
    EXPECT_NEAR(c->midi().sortedVelocity(0), 77.0f / 128.0f, 1e-5f);
    send(Kind::MouseMove, {600, 500});
    send(Kind::MouseUp, {600, 500});
    block(*c);
    EXPECT_FALSE(c->midi().keyHeld(36));
    EXPECT_EQ(c->midi().sortedCount(), 0);
}

TEST_F(Keyboard, TransposeButtonsMoveTheKeysAnOctavePerPress) {
    const gui::Point lowest{kKeys.left + 2, kKeys.top + 60}, upButton{90, 340}, downButton{90, 380};
    for (int i = 0; i < 4; ++i) click(upButton);
    EXPECT_EQ(keyboard().noteAt(lowest), 72);
    click(downButton);
    EXPECT_EQ(keyboard().noteAt(lowest), 60) << "a press and its release move one octave";
    for (int i = 0; i < 5; ++i) click(downButton);
    EXPECT_EQ(keyboard().noteAt(lowest), 12);
    click(upButton);
    send(Kind::MouseDown, lowest);
    block(*c);
    EXPECT_TRUE(c->midi().keyHeld(24));
    // The held note is remembered as a note: moving the keys does not redirect its release.
    click(upButton);
    send(Kind::MouseUp, lowest);
    block(*c);
    EXPECT_EQ(c->midi().sortedCount(), 0);
    EXPECT_FALSE(c->midi().keyHeld(24));
}

TEST_F(Keyboard, ARightClickLatchesUntilClickedAgainAndHeldNotesShowDown) {
    const gui::Point key{kKeys.left + 4 * 13 + 6, kKeys.top + 55};  // G, note 43
    const uint32_t up = pixel(key);
    click(key, MouseButton::Right);
    block(*c);
    editor().idle();
    EXPECT_TRUE(c->midi().keyHeld(43));
    EXPECT_NE(pixel(key), up) << "drawn down";

    editor().close();
    open();
    block(*c);
    EXPECT_TRUE(c->midi().keyHeld(43)) << "a latch outlives the window";
    EXPECT_NE(pixel(key), up);
    click(key, MouseButton::Right);
    block(*c);
    editor().idle();
    EXPECT_FALSE(c->midi().keyHeld(43));
    EXPECT_EQ(pixel(key), up);

    // Host MIDI shows on the keys as well, and a click releases it.
    sendMidi(*c, {{0x90, 43, 100}});
    block(*c);
    editor().idle();
    EXPECT_NE(pixel(key), up);
    click(key);
    block(*c);
    EXPECT_EQ(c->midi().sortedCount(), 0);
}

TEST_F(Keyboard, ClosingTheWindowReleasesTheHeldKey) {
    send(Kind::MouseDown, {kKeys.left + 30, kKeys.top + 60});
    send(Kind::MouseMove, {kKeys.left + 50, kKeys.top + 60});
    block(*c);
    ASSERT_EQ(c->midi().sortedCount(), 1);
    editor().close();
    block(*c);
    EXPECT_EQ(c->midi().sortedCount(), 0);
}

// Records what the keyboard sends, passing it on to the instance.
struct RecordingHost : EditorLink {
    using EditorLink::EditorLink;
    bool postNoteOn(int32_t note, int32_t velocity) override {
        const bool taken = EditorLink::postNoteOn(note, velocity);
        if (taken) sent.push_back({note, true, latching});
        return taken;
    }
    bool postNoteOff(int32_t note, int32_t velocity) override {
        const bool taken = EditorLink::postNoteOff(note, velocity);
        if (taken) sent.push_back({note, false, latching});
        return taken;
    }
    struct Sent {
        int note;
        bool on;
        bool latch;  // sent by a right click
    };
    std::vector<Sent> sent;
    bool latching = false;
};

TEST(KeyboardPanel, HidingTheKeysReleasesTheKeyTheMouseHolds) {
    FakeHost host;
    auto c = makeNeutralInstance(host);
    RecordingHost link(*c);
    gui::Frame frame(std::make_unique<gui::OffscreenWindow>(editor::kWidth, editor::kHeight), nullptr);
    auto& keyboard = frame.add(std::make_unique<KeyboardView>(kKeys, link));
    bool shown = true;
    keyboard.setVisibility([&] { return shown; });
    frame.dispatch(mouseEvent(Kind::MouseDown, {kKeys.left + 1, kKeys.top + 50}, MouseButton::Left));
    shown = false;
    keyboard.poll();
    frame.dispatch(mouseEvent(Kind::MouseMove, {kKeys.left + 40, kKeys.top + 50}, MouseButton::None));
    block(*c);
    ASSERT_EQ(link.sent.size(), 2u) << "no glide on a hidden keyboard";
    EXPECT_FALSE(link.sent[1].on);
    EXPECT_EQ(c->midi().sortedCount(), 0);
}

// Random presses, drags, releases and latches, in and around the keys, between host blocks
// of random sizes: every note the left button plays ends, each voice is released once, and
// only latched notes are left.
TEST(KeyboardScripts, OnlyLatchedNotesOutliveTheirGestures) {
    std::mt19937 random(20261206);
    for (int script = 0; script < 40; ++script) {
        FakeHost host;
        auto c = makeNeutralInstance(host);
        RecordingHost link(*c);
        gui::Frame frame(std::make_unique<gui::OffscreenWindow>(editor::kWidth, editor::kHeight), nullptr);
        auto& keyboard = frame.add(std::make_unique<KeyboardView>(kKeys, link));
        auto somewhere = [&] {
            return gui::Point{std::uniform_int_distribution(kKeys.left - 20, kKeys.right + 20)(random),
                              std::uniform_int_distribution(kKeys.top - 10, kKeys.bottom + 10)(random)};
        };
        bool leftHeld = false;
        for (int step = 0; step < 300; ++step) {
            switch (std::uniform_int_distribution(0, 5)(random)) {
                case 0:
                    if (!leftHeld)
                        frame.dispatch(mouseEvent(Kind::MouseDown, somewhere(), MouseButton::Left));
                    leftHeld = true;
                    break;
                case 1:
                case 2:
                    frame.dispatch(mouseEvent(Kind::MouseMove, somewhere(), MouseButton::None));
                    break;
                case 3:
                    if (leftHeld) frame.dispatch(mouseEvent(Kind::MouseUp, somewhere(), MouseButton::Left));
                    leftHeld = false;
                    break;
                case 4:
                    if (leftHeld) break;
                    link.latching = true;
                    frame.dispatch(mouseEvent(Kind::MouseDown, somewhere(), MouseButton::Right));
                    frame.dispatch(mouseEvent(Kind::MouseUp, somewhere(), MouseButton::Right));
                    link.latching = false;
                    break;
                default:
                    block(*c, std::uniform_int_distribution(1, 700)(random));
            }
            keyboard.poll();
        }
        if (leftHeld) frame.dispatch(mouseEvent(Kind::MouseUp, somewhere(), MouseButton::Left));
        block(*c);

        std::map<int, RecordingHost::Sent> last;
        for (const auto& s : link.sent) {
            const auto before = last.find(s.note);
            const bool wasOn = before != last.end() && before->second.on;
            ASSERT_NE(wasOn, s.on) << "script " << script << ": note " << s.note << " sent "
                                   << (s.on ? "on" : "off") << " twice in a row";
            last[s.note] = s;
        }
        int latched = 0;
        for (int note = 0; note < 128; ++note) {
            const auto it = last.find(note);
            const bool on = it != last.end() && it->second.on;
            EXPECT_EQ(c->midi().keyHeld(note), on) << "script " << script << ", note " << note;
            if (on) {
                EXPECT_TRUE(it->second.latch) << "script " << script << ": note " << note << " left on";
                ++latched;
            }
        }
        EXPECT_EQ(c->midi().sortedCount(), latched) << "one voice per held note";
    }
}

}  // namespace
}  // namespace kf::test
