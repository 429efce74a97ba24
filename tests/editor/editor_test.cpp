// The editor as a host and a user meet it: its life cycle through the dispatcher (with and
// without a display), the panel pictures each mode shows, the default page against its
// golden picture, and an event script played through the off-screen runner.
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

// A page of the panel: the default preset (which plays the synthesizer into the synthesis
// input) with one choice changed.
struct GoldenPage {
    const char* name;
    int32_t tag;
    float value;
    editor::Overlay overlay = editor::Overlay::Off;
    friend void PrintTo(const GoldenPage& p, std::ostream* out) { *out << p.name; }
};

const GoldenPage kGoldenPages[] = {
    {"default", -1, 0.0f},
    {"reverb", tag::effects_choice, 0.2f},
    {"delay", tag::effects_choice, 0.4f},
    {"phaser", tag::effects_choice, 0.6f},
    {"lofi", tag::effects_choice, 0.8f},
    {"sampler", tag::carrier_mode, 0.75f},
    {"input2", tag::modulator_mode, 0.0f},
    {"overlay-basics", -1, 0.0f, editor::Overlay::Basics},
    {"overlay-tips", -1, 0.0f, editor::Overlay::Tips},
};

class GoldenPages : public EditorFixture, public ::testing::WithParamInterface<GoldenPage> {};

// Guards the look of each page against unintended change. Fonts and anti-aliasing may move
// a level here and there, so: at most 0.1 % of the pixels may differ by more than 2 levels in
// a channel. `scripts/update-editor-golden` rewrites the pictures after an intended change; a
// failure leaves the page and a difference picture in the working folder to look at.
TEST_P(GoldenPages, MatchTheirGoldenPictures) {
    const GoldenPage& p = GetParam();
    if (p.tag >= 0) c->setParameter(p.tag, p.value);
    c->editorLink().setOverlay(p.overlay);
    editor().idle();
    const std::string name = std::string(p.name) + "-page";
    const std::string golden = KF_SOURCE_DIR "/tests/editor/golden/" + name + ".png";
    if (std::getenv("KF_UPDATE_GOLDEN")) {  // NOLINT(concurrency-mt-unsafe): nothing sets it meanwhile
        ASSERT_TRUE(window().writePng(golden));
        GTEST_SKIP() << "rewrote " << golden;
    }
    const std::vector<uint32_t> expected = readPng(golden), actual = window().surface().pixels();
    ASSERT_EQ(expected.size(), actual.size()) << golden;
    gui::Surface diff(editor::kWidth, editor::kHeight);
    std::size_t differing = 0;
    {
        gui::DrawContext marks(diff, nullptr);
        for (std::size_t i = 0; i < actual.size(); ++i) {
            if (!pixelsDiffer(expected[i], actual[i], 2)) continue;
            ++differing;
            const int x = int(i % editor::kWidth), y = int(i / editor::kWidth);
            marks.fillRect({x, y, x + 1, y + 1}, gui::Color::rgb(0xFF0000));
        }
    }
    EXPECT_LE(differing, actual.size() / 1000) << name;
    if (differing > 0) {
        window().writePng(name + ".actual.png");
        diff.writePng(name + ".diff.png");
    }
}

INSTANTIATE_TEST_SUITE_P(Editor, GoldenPages, ::testing::ValuesIn(kGoldenPages), [](const auto& page) {
    std::string name = page.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

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

using EditorScript = EditorFixture;

TEST_F(EditorScript, PlaysThroughTheOffscreenRunnerAndReportsFailedExpectations) {
    TempDir out;
    auto has = [](const std::vector<int32_t>& tags, int i) {
        return std::count(tags.begin(), tags.end(), i) > 0;
    };
    auto automated = [&](int i) {
        return std::any_of(host.automated.begin(), host.automated.end(),
                           [i](const auto& a) { return a.first == i; });
    };
    ScriptRun run{*c, out.path(), [&] { return int(host.beginEdits.size()) - int(host.endEdits.size()); },
                  [&](int i) { return has(host.beginEdits, i) && automated(i) && has(host.endEdits, i); }};

    std::ifstream in(KF_SOURCE_DIR "/tests/editor/scripts/default-page.txt");
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    std::string error;
    const auto script = host::parseEditorScript(text, error);
    ASSERT_TRUE(script) << error;
    const auto failures = playEditorScript(*script, run);
    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_FALSE(editor().isOpen());
    // The snapshot is what the editor draws for the state the script left.
    open();
    EXPECT_TRUE(readPng(out.file("default-page.png")) == window().surface().pixels());
    editor().close();

    const auto wrong = host::parseEditorScript("open\nexpect param 9 +0.5\nclose\nsnapshot x.png\n", error);
    ASSERT_TRUE(wrong) << error;
    const auto reported = playEditorScript(*wrong, run);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_TRUE(reported[0].starts_with("line 2: parameter 9")) << reported[0];
    EXPECT_TRUE(reported[1].starts_with("line 4: no off-screen editor")) << reported[1];
}

}  // namespace
}  // namespace kf::test
