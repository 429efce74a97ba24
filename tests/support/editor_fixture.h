// An instance under the fake host with its editor open off-screen, and the pointer gestures a
// user makes on it, for the editor's tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "editor/layout.h"
#include "editor/uniclient_editor.h"
#include "gui/platform_window.h"
#include "plugin/fake_host.h"
#include "support/temp_files.h"

namespace kf::test {

// An instance that starts from the factory default preset, as the installed plug-in does.
template <class Instance = TMUniClient>
std::unique_ptr<Instance> makeDefaultInstance(FakeHost& host) {
    static const Bytes preset = readBytes(KF_SOURCE_DIR "/resources/presets/default.kfn");
    FakeHost::current = &host;
    return std::make_unique<Instance>(&FakeHost::callback,
                                      PluginServices{&host.messages, &host.dialogs, preset});
}

inline editor::TMUniClientEditor& editorOf(TMUniClient& c) {
    return c.editor();
}

inline gui::Point middleOf(const gui::Rect& r) {
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Sets `c` (the default-preset instance unless a derived SetUp made one) and opens its editor.
class EditorFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!c) c = makeDefaultInstance(host);
        open();
    }
    void open() {
        ASSERT_TRUE(editor().openOn(std::make_unique<gui::OffscreenWindow>(editor::kWidth, editor::kHeight)));
        editor().idle();
    }
    editor::TMUniClientEditor& editor() { return editorOf(*c); }
    gui::OffscreenWindow& window() { return dynamic_cast<gui::OffscreenWindow&>(editor().frame()->window()); }
    gui::Point centre(int32_t tag) { return middleOf(editor().viewOf(tag)->rect()); }
    float value(int32_t tag) { return c->parameters().value(tag); }

    // Events `step` ms apart: far enough for no double clicks unless a test shortens it.
    void send(gui::Event::Kind kind, gui::Point at, unsigned modifiers = 0,
              gui::MouseButton button = gui::MouseButton::Left) {
        gui::Event e;
        e.kind = kind;
        e.pos = at;
        e.button = kind == gui::Event::Kind::MouseMove ? gui::MouseButton::None : button;
        e.modifiers = modifiers;
        e.time = time += step;
        editor().frame()->dispatch(e);
    }
    void click(gui::Point at, unsigned modifiers = 0, gui::MouseButton button = gui::MouseButton::Left) {
        send(gui::Event::Kind::MouseDown, at, modifiers, button);
        send(gui::Event::Kind::MouseUp, at, modifiers, button);
    }
    void rightClick(gui::Point at) { click(at, 0, gui::MouseButton::Right); }
    void drag(int32_t tag, int dy, unsigned modifiers = 0) {
        const gui::Point p = centre(tag);
        send(gui::Event::Kind::MouseDown, p, modifiers);
        send(gui::Event::Kind::MouseMove, {p.x, p.y + dy}, modifiers);
        send(gui::Event::Kind::MouseUp, {p.x, p.y + dy}, modifiers);
    }
    void wheel(gui::Point at, int notches, unsigned modifiers = 0) {
        gui::Event e;
        e.kind = gui::Event::Kind::Wheel;
        e.pos = at;
        e.wheelY = notches;
        e.modifiers = modifiers;
        editor().frame()->dispatch(e);
    }
    // In the open pop-up menu, clicks item `path[k]` on each level in turn; the menu closes.
    void pick(std::initializer_list<int> path) {
        int level = 0;
        for (int item : path) {
            ASSERT_TRUE(editor().frame()->isMenuOpen());
            const gui::Rect r = editor().frame()->menu()->itemRect(level++, item);
            ASSERT_FALSE(r.empty()) << "item " << item;
            click({r.left + 5, r.top + 5});
        }
        EXPECT_FALSE(editor().frame()->isMenuOpen());
    }

    FakeHost host;
    std::unique_ptr<TMUniClient> c;
    std::uint32_t time = 0, step = 1000;
};

}  // namespace kf::test
