// The on-screen keyboard played with the mouse through a whole instance: where each press
// lands, the octave buttons, latches, and that no note the mouse plays outlives its gesture.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "editor/keyboard_view.h"
#include "support/editor_fixture.h"

namespace kf::test {
namespace {

using editor::KeyboardView;
using gui::MouseButton;
using Kind = gui::Event::Kind;

constexpr gui::Rect kKeys{128, 338, 492, 403};

gui::Event mouse(Kind kind, gui::Point at, MouseButton button = MouseButton::Left) {
    gui::Event e;
    e.kind = kind;
    e.pos = at;
    e.button = button;
    return e;
}

void block(TMUniClient& c, int frames = 64) {
    render(c, std::vector<float>(std::size_t(frames)), std::vector<float>(std::size_t(frames)), frames);
}

TEST(KeyboardGeometry, BlackKeysCoverTheTopFortyPixels) {
    using editor::keys::offsetAt;
    EXPECT_EQ(offsetAt({8, 39}), 1);
    EXPECT_EQ(offsetAt({8, 40}), 0);
    EXPECT_EQ(offsetAt({3 * 91 + 82, 39}), 46);
    EXPECT_EQ(offsetAt({364, 10}), -1);
}

class Keyboard : public EditorFixture {
  protected:
    void SetUp() override {
        c = makeNeutralInstance(host);
        EditorFixture::SetUp();
    }
    // Each event followed by the idle that draws it.
    void press(Kind kind, gui::Point at) {
        send(kind, at);
        editor().idle();
    }
    void tap(gui::Point at, MouseButton button = MouseButton::Left) {
        click(at, 0, button);
        editor().idle();
    }
    int lowestNote() { return dynamic_cast<KeyboardView*>(editor().viewOf(101))->noteAt({kKeys.left, 390}); }
};

TEST_F(Keyboard, APressPlaysItsKeyAtItsHeightUntilReleasedAnywhereOrTheWindowCloses) {
    press(Kind::MouseDown, {kKeys.left + 2, kKeys.top + 33});
    block(*c);
    ASSERT_EQ(c->midi().sortedCount(), 1);
    EXPECT_EQ(c->midi().sortedNote(0), 36.0f);
    EXPECT_NEAR(c->midi().sortedVelocity(0), 77.0f / 128.0f, 1e-5f);
    press(Kind::MouseUp, {600, 500});
    block(*c);
    EXPECT_EQ(c->midi().sortedCount(), 0);

    press(Kind::MouseDown, {kKeys.left + 30, kKeys.top + 60});
    press(Kind::MouseMove, {kKeys.left + 50, kKeys.top + 60});  // a glide
    block(*c);
    ASSERT_EQ(c->midi().sortedCount(), 1);
    editor().close();
    block(*c);
    EXPECT_EQ(c->midi().sortedCount(), 0);
}

TEST_F(Keyboard, TransposeButtonsMoveTheKeysAnOctavePerPressWithinRange) {
    const gui::Point upButton{90, 340}, downButton{90, 380};
    for (int i = 0; i < 4; ++i) tap(upButton);
    EXPECT_EQ(lowestNote(), 72);
    tap(downButton);
    EXPECT_EQ(lowestNote(), 60);
    for (int i = 0; i < 5; ++i) tap(downButton);
    EXPECT_EQ(lowestNote(), 12);
}

TEST_F(Keyboard, ARightClickLatchesUntilClickedAgainAndHeldNotesShowDown) {
    const gui::Point key{kKeys.left + 4 * 13 + 6, kKeys.top + 55};  // G, note 43
    const uint32_t up = window().surface().pixel(key.x, key.y);
    tap(key, MouseButton::Right);
    editor().close();
    block(*c);
    open();
    EXPECT_TRUE(c->midi().keyHeld(43)) << "a latch outlives the window";
    EXPECT_NE(window().surface().pixel(key.x, key.y), up) << "and shows down";
    tap(key, MouseButton::Right);
    block(*c);
    editor().idle();
    EXPECT_FALSE(c->midi().keyHeld(43));
    EXPECT_EQ(window().surface().pixel(key.x, key.y), up);
}

// Records what the keyboard sends (and the instance takes), and whether a right click sent it.
struct RecordingHost : EditorLink {
    using EditorLink::EditorLink;
    bool postNoteOn(int32_t n, int32_t v) override { return record(n, true, EditorLink::postNoteOn(n, v)); }
    bool postNoteOff(int32_t n, int32_t v) override {
        return record(n, false, EditorLink::postNoteOff(n, v));
    }
    bool record(int note, bool on, bool taken) {
        if (taken) sent.push_back({note, on, latching});
        return taken;
    }
    struct Sent {
        int note;
        bool on, latch;
    };
    std::vector<Sent> sent;
    bool latching = false;
};

struct KeyboardAlone {
    FakeHost host;
    std::unique_ptr<TMUniClient> c = makeNeutralInstance(host);
    RecordingHost link{*c};
    gui::Frame frame{std::make_unique<gui::OffscreenWindow>(editor::kWidth, editor::kHeight), nullptr};
    KeyboardView& keys = frame.add(std::make_unique<KeyboardView>(kKeys, link));
};

// Random presses, drags, releases and latches in and around the keys, with the panel hidden
// now and then, between host blocks of random sizes: each note's on and off alternate, and
// only latched notes are left on.
TEST(KeyboardScripts, OnlyLatchedNotesOutliveTheirGestures) {
    std::mt19937 random(20261206);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(random); };
    for (int script = 0; script < 40; ++script) {
        KeyboardAlone k;
        bool shown = true;
        k.keys.setVisibility([&] { return shown; });
        auto at = [&] { return gui::Point{pick(kKeys.left - 20, kKeys.right + 20), pick(320, 420)}; };
        bool left = false;
        for (int step = 0; step < 300; ++step) {
            const int action = pick(0, 6);
            if (action == 0 && !left) k.frame.dispatch(mouse(Kind::MouseDown, at())), left = true;
            if (action == 1 && left) k.frame.dispatch(mouse(Kind::MouseUp, at())), left = false;
            if (action == 2 || action == 3) k.frame.dispatch(mouse(Kind::MouseMove, at(), MouseButton::None));
            if (action == 4 && !left) {
                k.link.latching = true;
                k.frame.dispatch(mouse(Kind::MouseDown, at(), MouseButton::Right));
                k.frame.dispatch(mouse(Kind::MouseUp, at(), MouseButton::Right));
                k.link.latching = false;
            }
            if (action == 5) block(*k.c, pick(1, 700));
            if (action == 6) shown = pick(0, 3) > 0;
            k.keys.poll();
            ASSERT_TRUE(shown || k.keys.soundingNote() < 0) << script << ": hidden keys still play";
        }
        if (left) k.frame.dispatch(mouse(Kind::MouseUp, at()));
        block(*k.c);

        std::map<int, RecordingHost::Sent> last;
        for (const auto& s : k.link.sent) {
            ASSERT_NE(last.contains(s.note) && last[s.note].on, s.on)
                << script << ": note " << s.note << " twice";
            last[s.note] = s;
        }
        int latched = 0;
        for (int note = 0; note < 128; ++note) {
            const bool on = last.contains(note) && last[note].on;
            EXPECT_EQ(k.c->midi().keyHeld(note), on) << script << ": note " << note;
            EXPECT_TRUE(!on || last[note].latch) << script << ": note " << note << " left on";
            latched += on;
        }
        EXPECT_EQ(k.c->midi().sortedCount(), latched) << "one voice per held note";
    }
}

}  // namespace
}  // namespace kf::test
