// The preset menu of the top bar, driven off-screen with scripted dialogs: listed presets load
// and name the face, the three actions run their dialog at a later idle and hand its answer
// on, refused files and cancelled dialogs change nothing, and listings stay bounded.
#include "editor/preset_menu.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/editor_fixture.h"

namespace kf::test {
namespace {

using editor::PresetMenu;
using editor::PresetPort;
namespace fs = std::filesystem;

class PresetMenuTest : public EditorFixture {
  protected:
    void SetUp() override {
        c = makeDefaultInstance(host);
        original = c->presetFolder();
        c->setPresetFolder(dir.path().string(), 0);
        EditorFixture::SetUp();
    }
    // The settings folder is shared by the tests of this process.
    void TearDown() override { c->setPresetFolder(original, 0); }

    PresetMenu& face() { return *dynamic_cast<PresetMenu*>(editor().viewOf(115)); }
    // Opens the menu, picks along `path`, then lets an idle pass.
    void choose(std::initializer_list<int> path, bool idle = true) {
        click(centre(115));
        pick(path);
        if (idle) editor().idle();
    }
    void savePreset(const std::string& path, float focus) {
        c->setParameter(tag::focus, focus);
        ASSERT_TRUE(c->savePresetFile(path));
    }
    float focus() { return value(tag::focus); }
    // Whether the open menu's item at `path` (submenus along the way) carries a tick.
    bool ticked(std::initializer_list<int> path) {
        const gui::Menu* menu = &editor().frame()->menu()->root();
        const gui::MenuItem* item = nullptr;
        for (int i : path) {
            if (item) menu = item->submenu.get();
            item = &menu->items().at(static_cast<std::size_t>(i));
        }
        return item && item->checked;
    }

    TempDir dir;
    std::string original;
};

TEST_F(PresetMenuTest, AListedPresetLoadsRefreshesTheControlsAndNamesTheFace) {
    fs::create_directories(dir.file("Voices"));
    savePreset(dir.file("Alpha.kfn"), 0.8f);
    savePreset(dir.file("Voices/Beta.kfn"), 0.3f);
    c->setParameter(tag::focus, 0.5f);
    const int notices = host.updateDisplayCalls;

    choose({PresetMenu::kFirstPreset});  // Alpha; the folder follows the files
    EXPECT_EQ(face().programName(), "Alpha");
    click(centre(115));
    EXPECT_TRUE(ticked({PresetMenu::kFirstPreset})) << "the menu ticks the preset loaded";
    EXPECT_FALSE(ticked({PresetMenu::kFirstPreset + 1, 0}));
    editor().frame()->closeMenu();
    EXPECT_EQ(dynamic_cast<gui::Control*>(editor().viewOf(tag::focus))->value(), 0.8f);
    choose({PresetMenu::kFirstPreset + 1, 0});  // Voices ▸ Beta
    EXPECT_EQ(focus(), 0.3f);
    EXPECT_EQ(face().programName(), "Beta");
    click(centre(115));
    EXPECT_TRUE(ticked({PresetMenu::kFirstPreset + 1, 0}) && !ticked({PresetMenu::kFirstPreset}));
    editor().frame()->closeMenu();
    EXPECT_EQ(host.updateDisplayCalls, notices + 2);
}

TEST_F(PresetMenuTest, SaveAsksAtTheNextIdleTheFileIsListedAndClosingCancelsADialog) {
    host.dialogs.pushAnswer(dir.file("Mine"));
    c->setParameter(tag::focus, 0.7f);
    choose({PresetMenu::kSavePreset});
    ASSERT_EQ(host.dialogs.requests().size(), 1u);
    const auto& asked = host.dialogs.requests()[0];
    EXPECT_EQ(asked.title, "Save Preset");
    EXPECT_EQ(asked.start, c->presetSaveFolder() + "default.kfn") << "the name to save, with its extension";
    EXPECT_EQ(asked.types, (std::vector<platform::FileType>{{"Preset file", {"kfn"}}}));
    c->setParameter(tag::focus, 0.1f);
    choose({PresetMenu::kFirstPreset});  // listed afresh at this pop-up
    EXPECT_EQ(focus(), 0.7f);
    EXPECT_EQ(c->currentProgramName(), "Mine");

    host.dialogs.pushAnswer(dir.file("Late.kfn"));
    choose({PresetMenu::kSavePreset}, false);  // asked, not yet answered when the editor closes
    editor().close();
    open();
    EXPECT_FALSE(fs::exists(dir.file("Late.kfn")));
}

// The dialog asks before the user picks an existing file, but it only ever sees the name the
// user typed: "Mine" for the file Mine.kfn is never confirmed, so that file stays and the user
// learns why. The name the dialog did show and confirm is replaced.
TEST_F(PresetMenuTest, SaveReplacesOnlyAPresetTheDialogConfirmed) {
    savePreset(dir.file("Mine.kfn"), 0.3f);
    const Bytes kept = readBytes(dir.file("Mine.kfn"));
    c->setParameter(tag::focus, 0.9f);
    host.dialogs.pushAnswer(dir.file("Mine"));
    choose({PresetMenu::kSavePreset});
    EXPECT_EQ(readBytes(dir.file("Mine.kfn")), kept);
    ASSERT_EQ(host.messages.messages().size(), 1u);
    EXPECT_NE(host.messages.messages()[0].find("\"Mine\""), std::string::npos) << host.messages.messages()[0];

    host.dialogs.pushAnswer(dir.file("Mine.kfn"));
    choose({PresetMenu::kSavePreset});
    EXPECT_NE(readBytes(dir.file("Mine.kfn")), kept);
    EXPECT_EQ(host.messages.messages().size(), 1u);
    c->setParameter(tag::focus, 0.1f);
    choose({PresetMenu::kFirstPreset});
    EXPECT_EQ(focus(), 0.9f);
}

TEST_F(PresetMenuTest, CancelledOrRefusedChangesNothingAndSelectFolderRelists) {
    Words foreign = chunkOf(*c);
    foreign[6] = 12345;  // a header the state reader refuses
    const auto* bytes = reinterpret_cast<const uint8_t*>(foreign.data());
    writeBytes(dir.file("Broken.kfn"), Bytes(bytes, bytes + foreign.size() * 4));
    c->setParameter(tag::focus, 0.2f);
    host.dialogs.pushAnswer(dir.file("Broken.kfn"));
    choose({PresetMenu::kLoadPreset});
    EXPECT_EQ(host.dialogs.requests().at(0).title, "Choose a file to load");
    choose({PresetMenu::kFirstPreset});
    EXPECT_EQ(focus(), 0.2f);
    EXPECT_EQ(face().programName(), "default");
    EXPECT_EQ(host.messages.messages().size(), 2u) << "each refusal says why";

    TempDir other;
    savePreset(other.file("Elsewhere.kfn"), 0.9f);
    for (const auto& answer : {std::optional<std::string>(), std::optional(other.path().string())}) {
        host.dialogs.pushAnswer(answer);
        choose({PresetMenu::kSelectFolder});
    }
    EXPECT_EQ(host.dialogs.requests().back().title, "Choose Preset Directory");
    EXPECT_EQ(host.dialogs.requests().back().start, dir.path().string() + "/") << "the cancel kept it";
    EXPECT_EQ(c->presetFolder(), other.path().string() + "/");
    choose({PresetMenu::kFirstPreset});
    EXPECT_EQ(c->currentProgramName(), "Elsewhere");
}

int depthOf(const std::vector<PresetPort::PresetNode>& nodes) {
    int deepest = 0;
    for (const auto& n : nodes)
        if (n.isFolder) deepest = std::max(deepest, 1 + depthOf(n.children));
    return deepest;
}

TEST_F(PresetMenuTest, ListingsStayBoundedWithLinkLoopsDeepFoldersAndCrowdedFolders) {
    fs::path deep = dir.path();
    for (int level = 0; level < 7; ++level) {
        fs::create_directories(deep /= "level" + std::to_string(level));
        writeBytes(deep / "p.kfn", Bytes{0});
    }
    fs::create_directory_symlink(dir.path(), dir.path() / "level0" / "loop");
    fs::create_directories(dir.file("crowd"));
    for (int i = 0; i < 600; ++i)
        writeBytes(dir.file("crowd/" + std::to_string(1000 + i) + ".kfn"), Bytes{0});

    const auto listing = EditorLink(*c).listPresets(dir.path().string(), PresetMenu::kMaxDepth);
    EXPECT_EQ(depthOf(listing), PresetMenu::kMaxDepth);
    ASSERT_EQ(listing.size(), 2u);
    EXPECT_EQ(listing[0].children.size(), TMUniClient::kMaxPresetEntries);
    EXPECT_EQ(listing[0].children.back().name, "1499");
    const auto& level0 = listing[1].children;
    EXPECT_TRUE(std::none_of(level0.begin(), level0.end(), [](const auto& n) { return n.name == "loop"; }));
}

// A host restoring states and naming the program on its own thread while the editor loads
// presets and shows the name (run under ThreadSanitizer to see the ordering).
TEST_F(PresetMenuTest, HostThreadsMayRestoreStatesWhileTheMenuLoads) {
    savePreset(dir.file("One.kfn"), 0.25f);
    const Words state = chunkOf(*c);
    std::thread hostThread([&] {
        for (int i = 0; i < 50; ++i) {
            loadChunk(*c, state);
            c->setProgramName(i % 2 ? "host name" : "another host name");
            chunkOf(*c);
        }
    });
    for (int i = 0; i < 20; ++i) choose({PresetMenu::kFirstPreset});
    hostThread.join();
    editor().idle();
    EXPECT_EQ(face().programName(), c->currentProgramName());
    EXPECT_EQ(focus(), 0.25f);
}

}  // namespace
}  // namespace kf::test
