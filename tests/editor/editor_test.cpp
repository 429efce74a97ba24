// The editor as a host and a user meet it on Linux: its life cycle through the dispatcher
// (with and without a display) and the file actions without a dialog program.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

#include "editor/notice.h"
#include "editor/preset_menu.h"
#include "gui/bitmap_cache.h"
#include "gui/draw_context.h"
#include "gui/gui_test_support.h"
#include "support/editor_fixture.h"
#include "support/editor_script_runner.h"
#include "support/environment.h"
#include "support/pixels.h"

namespace kf::test {
namespace {

using editor::TMUniClientEditor;
using gui::test::readPng;

intptr_t dispatch(TMUniClient& c, int32_t opcode, void* ptr = nullptr) {
    return c.dispatcher(opcode, 0, 0, ptr, 0.0f);
}

TEST(EditorLifeCycle, WithoutADisplayTheEditorIsReportedAndRefusesToOpen) {
    ScopedEnv noDisplay("DISPLAY", nullptr);
    FakeHost host;
    auto c = makeInstance(host);
    EXPECT_TRUE(c->getAeffect()->flags & vst::effFlagsHasEditor);

    vst::ERect* rect = nullptr;
    ASSERT_EQ(dispatch(*c, vst::effEditGetRect, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ((std::array<int, 4>{rect->top, rect->left, rect->bottom, rect->right}),
              (std::array<int, 4>{0, 0, 404, 503}));

    c->setParameter(tag::effects_choice, 0.4f);  // raises the refresh flag
    for (uintptr_t window : {uintptr_t{0}, uintptr_t{0x200001}}) {
        EXPECT_EQ(dispatch(*c, vst::effEditOpen, reinterpret_cast<void*>(window)), 0);
        EXPECT_FALSE(editorOf(*c).isOpen());
        EXPECT_EQ(TMUniClientEditor::sharedBitmaps().useCount(), 0) << "nothing is left behind";
    }
    for (int i = 0; i < 3; ++i) {
        dispatch(*c, vst::effEditIdle);
        dispatch(*c, vst::effEditClose);
    }
    EXPECT_TRUE(c->editorRefresh().consume()) << "a closed editor's idle does nothing";
}

TEST(EditorLifeCycle, OnADisplayOpensOnceAndSharesTheBitmaps) {
    VirtualDisplay server;
    if (server.name().empty()) GTEST_SKIP() << "no Xvfb";
    ScopedEnv display("DISPLAY", server.name().c_str());
    xcb_connection_t* x = xcb_connect(server.name().c_str(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(x));
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    auto makeParent = [&] {
        const xcb_window_t w = xcb_generate_id(x);
        xcb_create_window(x, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 503, 404, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_map_window(x, w);
        xcb_flush(x);
        return w;
    };
    auto children = [&](xcb_window_t w) {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(x, xcb_query_tree(x, w), nullptr);
        const int n = tree ? xcb_query_tree_children_length(tree) : -1;
        free(tree);
        return n;
    };
    const xcb_window_t parent = makeParent();

    FakeHost host;
    auto a = makeInstance(host);
    auto b = makeInstance(host);
    auto& cache = TMUniClientEditor::sharedBitmaps();
    const int decodes = cache.decodeCount();
    void* window = reinterpret_cast<void*>(uintptr_t{parent});
    ASSERT_EQ(dispatch(*a, vst::effEditOpen, window), 1);
    gui::Frame* frame = editorOf(*a).frame();
    EXPECT_EQ(dispatch(*a, vst::effEditOpen, window), 1) << "a second open reports success";
    EXPECT_EQ(editorOf(*a).frame(), frame) << "and does nothing";
    ASSERT_EQ(dispatch(*b, vst::effEditOpen, window), 1);
    EXPECT_EQ(cache.useCount(), 2);
    EXPECT_EQ(cache.decodeCount(), decodes + 1) << "decoded once for every open editor";
    dispatch(*b, vst::effEditClose);
    EXPECT_EQ(cache.useCount(), 1);

    // A host that hands the open editor another window of its own moves it there.
    const xcb_window_t other = makeParent();
    ASSERT_EQ(dispatch(*a, vst::effEditOpen, reinterpret_cast<void*>(uintptr_t{other})), 1);
    EXPECT_EQ(children(parent), 0);
    EXPECT_EQ(children(other), 1);
    EXPECT_EQ(cache.useCount(), 1);

    dispatch(*a, vst::effEditIdle);
    dispatch(*a, vst::effEditClose);
    dispatch(*a, vst::effEditClose);
    EXPECT_EQ(cache.useCount(), 0) << "the last close frees the bitmaps";
    xcb_disconnect(x);
}

// A desktop without zenity or kdialog: nothing on PATH, so no dialog can open and no message
// box either.
class FileActionsWithoutADialogProgram : public EditorFixture {
  protected:
    void SetUp() override {
        FakeHost::current = &host;
        c = std::make_unique<TMUniClient>(&FakeHost::callback, PluginServices{});
        c->setParameter(tag::carrier_mode, 1.0f);  // the sampler panel
        EditorFixture::SetUp();
    }
    TempDir emptyBin;
    ScopedEnv path{"PATH", emptyBin.path().c_str()};
    ScopedEnv display{"DISPLAY", ":0"};
};

// Every file action says so on the page, naming what to install.
TEST_F(FileActionsWithoutADialogProgram, EachSaysOnThePageWhatToInstall) {
    using editor::PresetMenu;
    const std::pair<const char*, std::function<void()>> actions[] = {
        {"click to load", [&] { click(centre(tag::sampler)); }},
        {"Choose Sample Directory", [&] { rightClick(centre(tag::sampler)), pick({0}); }},
        {"Load Preset", [&] { click(centre(115)), pick({PresetMenu::kLoadPreset}); }},
        {"Save Preset", [&] { click(centre(115)), pick({PresetMenu::kSavePreset}); }},
        {"Select Folder", [&] { click(centre(115)), pick({PresetMenu::kSelectFolder}); }},
    };
    for (const auto& [name, act] : actions) {
        ASSERT_FALSE(editor().notice()->isVisible());
        act();
        editor().idle();
        EXPECT_TRUE(editor().notice()->isVisible()) << name;
        EXPECT_NE(editor().notice()->text().find("install zenity"), std::string::npos) << name;
        click(middleOf(editor().notice()->rect()));  // closes it
    }
}

// What the instance itself has to say (a listed file that is no sample, a listed preset that
// is none) says it on the page too, every word of it, while the editor is open; closed, it
// goes to standard error as before.
TEST_F(FileActionsWithoutADialogProgram, TheInstancesMessagesShowOnThePageWhole) {
    using editor::PresetMenu;
    TempDir folder;
    writeBytes(folder.file("Broken.wav"), Bytes(64, 7));
    writeBytes(folder.file("Short.kfn"), Bytes(4, 7));
    c->settings().writeText("Samplepath", folder.path().string());
    const std::string presets = c->presetFolder();
    c->setPresetFolder(folder.path().string(), 0);
    const std::pair<const char*, std::function<void()>> actions[] = {
        {"could not load \"Broken\" as a sample", [&] { rightClick(centre(tag::sampler)), pick({1}); }},
        {"too short to be a Kestrafone preset",
         [&] { click(centre(115)), pick({PresetMenu::kFirstPreset}); }},
    };
    testing::internal::CaptureStderr();
    for (const auto& [said, act] : actions) {
        act();
        editor().idle();
        const editor::NoticeView& notice = *editor().notice();
        ASSERT_NE(notice.text().find(said), std::string::npos) << notice.text();
        std::string words;
        gui::Surface scratch(1, 1);
        gui::DrawContext measure(scratch, nullptr);
        for (const std::string& line : notice.lines()) {
            words += (words.empty() ? "" : " ") + line;
            EXPECT_LE(measure.textWidth(line), notice.rect().width() - 16) << line;
        }
        EXPECT_EQ(words, notice.text()) << "no word is cut off";
        EXPECT_GE(notice.rect().height(), 34 + 15 * int(notice.lines().size())) << "the box holds every line";
        click(middleOf(notice.rect()));
    }
    editor().close();
    c->loadPresetFile(folder.file("Short.kfn"));
    c->setPresetFolder(presets, 0);
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1) << logged;
    EXPECT_NE(logged.find("too short"), std::string::npos) << logged;
}

// One dialog at a time: a second request meanwhile is refused, and the page says why.
using FileActions = EditorFixture;

TEST_F(FileActions, ASecondDialogWhileOneIsOpenSaysWhyNothingOpened) {
    using editor::PresetMenu;
    c->setParameter(tag::carrier_mode, 1.0f);
    editor().idle();
    click(centre(tag::sampler));  // its dialog is open until the next idle
    click(centre(115));
    pick({PresetMenu::kSavePreset});
    EXPECT_NE(editor().notice()->text().find("already"), std::string::npos);
    editor().idle();
    ASSERT_EQ(host.dialogs.requests().size(), 1u);
    EXPECT_EQ(host.dialogs.requests()[0].title, "Choose a file to load");
    click(centre(115));
    pick({PresetMenu::kSavePreset});
    EXPECT_FALSE(editor().notice()->isVisible()) << "a dialog that opens takes the notice away";
}

}  // namespace
}  // namespace kf::test
