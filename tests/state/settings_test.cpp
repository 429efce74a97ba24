#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/settings_store.h"
#include "state/settings_startup.h"
#include "test_files.h"

namespace kf {
namespace {

using platform::SettingsStore;
using platform::SettingsValues;

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(SettingsValues, TextSizeRules) {
    SettingsValues v;
    v.setText("a", std::string(1024, 'x'));
    v.setText("b", std::string(1025, 'y'));
    v.setText("c", std::string(1026, 'z'));
    v.setText("d", std::string(2000, 'w'));
    EXPECT_EQ(v.text("a"), std::string(1023, 'x'));
    EXPECT_EQ(v.text("b"), std::string(1023, 'y'));
    EXPECT_EQ(v.text("c"), std::nullopt);
    EXPECT_EQ(v.text("d"), std::nullopt);
}

TEST(SettingsValues, NamesIgnoreCaseAndTypesDoNotMix) {
    SettingsValues v;
    v.setNumber("ignorePrgChange", 1);
    EXPECT_EQ(v.number("IGNOREPRGCHANGE"), 1);
    EXPECT_EQ(v.text("ignorePrgChange"), std::nullopt);
    v.setText("IgnorePrgChange", "on");  // replaces, whatever the type
    EXPECT_EQ(v.size(), 1u);
    EXPECT_EQ(v.number("ignorePrgChange"), std::nullopt);
    EXPECT_EQ(v.text("ignoreprgchange"), "on");
}

TEST(SettingsValues, FileFormRoundTripsAnyText) {
    SettingsValues v;
    v.setText("CC Map Recall isolate\tx", "a\\b\tc\nd\re\\t");
    v.setNumber("n", -2147483647 - 1);
    v.setText("empty", "");
    const std::optional<SettingsValues> back = SettingsValues::parse(v.serialize());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, v);
}

TEST(SettingsValues, ForeignOrDamagedTextIsNotTrusted) {
    EXPECT_FALSE(SettingsValues::parse(""));
    EXPECT_FALSE(SettingsValues::parse("[settings]\nx=1\n"));
    EXPECT_FALSE(SettingsValues::parse(std::string("# Kestrafone settings 1\n\0", 25)));
    // Unreadable lines are skipped, the rest is kept.
    const auto v = SettingsValues::parse(
        "# Kestrafone settings 1\nnumber\ta\t12x\nnumber\tb\t99999999999\nbogus\tc\t1\ntext\td\\q\tv\n"
        "number\tok\t-5\ntext\tt\tv\\\\w\n");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->size(), 2u);
    EXPECT_EQ(v->number("ok"), -5);
    EXPECT_EQ(v->text("t"), "v\\w");
}

TEST(SettingsStore, ValuesPersistAcrossObjects) {
    test::TempDir dir;
    const std::string folder = (dir.path() / "Tallow Mill" / "Kestrafone").string();
    {
        SettingsStore store(folder);
        EXPECT_TRUE(store.writeNumber("firstuse", 1));
        EXPECT_TRUE(store.writeText("presetpath0", "/p/"));
    }
    SettingsStore store(folder);
    int32_t n = 0;
    std::string t;
    EXPECT_TRUE(store.readNumber("firstuse", n));
    EXPECT_EQ(n, 1);
    EXPECT_TRUE(store.readText("presetpath0", t));
    EXPECT_EQ(t, "/p/");
    EXPECT_FALSE(store.readText("missing", t));
    EXPECT_EQ(t, "/p/");
}

TEST(SettingsStore, ACorruptFileCountsAsEmptyAndIsReplacedOnWrite) {
    test::TempDir dir;
    SettingsStore store(dir.path().string());
    test::writeBytes(store.filePath(), {0xFF, 0x00, 'g', 'a', 'r', 'b'});
    int32_t n = 0;
    EXPECT_FALSE(store.readNumber("firstuse", n));
    EXPECT_TRUE(store.writeNumber("firstuse", 1));
    EXPECT_EQ(store.readAll().size(), 1u);
    EXPECT_TRUE(store.readNumber("firstuse", n));
}

TEST(SettingsStore, WithoutAFolderReadsFailAndWritesDoNothing) {
    SettingsStore store{std::string()};
    int32_t n = 0;
    EXPECT_FALSE(store.writeNumber("a", 1));
    EXPECT_FALSE(store.readNumber("a", n));
    test::TempDir dir;
    const std::string blocker = dir.file("file");
    test::writeBytes(blocker, {1});
    SettingsStore unwritable(blocker + "/sub");  // a folder below a plain file cannot exist
    EXPECT_FALSE(unwritable.writeNumber("a", 1));
    EXPECT_FALSE(unwritable.readNumber("a", n));
}

TEST(SettingsStore, ConcurrentWritersLoseNothing) {
    test::TempDir dir;
    const std::string folder = dir.path().string();
    constexpr int kValues = 40;
    // Two processes and two threads in this one, each writing its own names.
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = ::fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            SettingsStore store(folder);
            bool ok = true;
            for (int i = 0; i < kValues; ++i)
                ok &= store.writeNumber("p" + std::to_string(p) + "_" + std::to_string(i), i);
            ::_exit(ok ? 0 : 1);
        }
    }
    std::thread threads[2];
    for (int t = 0; t < 2; ++t) {
        threads[t] = std::thread([&folder, t] {
            SettingsStore store(folder);
            for (int i = 0; i < kValues; ++i)
                EXPECT_TRUE(
                    store.writeText("t" + std::to_string(t) + "_" + std::to_string(i), std::to_string(i)));
        });
    }
    for (auto& t : threads) t.join();
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const SettingsValues all = SettingsStore(folder).readAll();
    EXPECT_EQ(all.size(), static_cast<std::size_t>(4 * kValues));
    for (int i = 0; i < kValues; ++i) {
        EXPECT_EQ(all.number("p0_" + std::to_string(i)), i);
        EXPECT_EQ(all.number("p1_" + std::to_string(i)), i);
        EXPECT_EQ(all.text("t1_" + std::to_string(i)), std::to_string(i));
    }
}

// Sets or unsets an environment variable for the lifetime of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SettingsStore, DefaultFolderFollowsTheEnvironment) {
    ScopedEnv home("HOME", "/home/someone");
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    {
        ScopedEnv over(SettingsStore::kFolderEnvironment, nullptr);
        EXPECT_EQ(SettingsStore::defaultFolder(), "/home/someone/.config/Tallow Mill/Kestrafone");
        ScopedEnv relative("XDG_CONFIG_HOME", "relative/cfg");
        EXPECT_EQ(SettingsStore::defaultFolder(), "/home/someone/.config/Tallow Mill/Kestrafone");
        ScopedEnv absolute("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(SettingsStore::defaultFolder(), "/cfg/Tallow Mill/Kestrafone");
    }
    ScopedEnv over(SettingsStore::kFolderEnvironment, "/tmp/kf-settings");
    EXPECT_EQ(SettingsStore::defaultFolder(), "/tmp/kf-settings");
}

// A bundle as make install lays it out (the folders the settings point into).
std::string makeBundle(const std::string& folder) {
    std::filesystem::create_directories(folder + "/Presets/User");
    std::filesystem::create_directories(folder + "/Samples/Factory");
    return folder + "/";
}

TEST(SettingsStartup, FirstRunWritesEverythingOnce) {
    test::TempDir dir;
    const std::string bundle = makeBundle(dir.file("bundle"));
    {
        SettingsStore store(dir.file("cfg"));
        const StartupSettings s = runSettingsStartup(store, bundle, dir.file("user"));
        EXPECT_TRUE(s.firstRun);
        EXPECT_EQ(s.presetPath, bundle + "Presets/");
        EXPECT_EQ(store.fileWrites(), 1);
        const SettingsValues v = store.readAll();
        EXPECT_EQ(v.size(), 7u);
        EXPECT_EQ(v.text("installpath"), bundle);
        EXPECT_EQ(v.number("firstuse"), 1);
        EXPECT_EQ(v.text("presetpath0"), bundle + "Presets/");
        EXPECT_EQ(v.text("presetsavepath0"), bundle + "Presets/User/");
        EXPECT_EQ(v.text("audiofilepath"), bundle + "Samples/Factory");
        EXPECT_EQ(v.number("ignorePrgChange"), 1);
        EXPECT_EQ(v.number("CC Map Recall isolate"), 0);
    }
    SettingsStore again(dir.file("cfg"));
    const ino_t before = inodeOf(again.filePath());
    EXPECT_FALSE(runSettingsStartup(again, bundle, dir.file("user")).firstRun);
    EXPECT_EQ(again.fileWrites(), 0);
    EXPECT_EQ(inodeOf(again.filePath()), before);
    EXPECT_FALSE(std::filesystem::exists(dir.file("user")));  // nothing needed the user's folder
}

// Where the folders point after a first run from `first` and a later start from `later`.
TEST(SettingsStartup, FoldersFollowTheBundleTheInstanceRunsFrom) {
    struct Case {
        const char* name;
        bool moveFirstToLater;                 // the bundle was moved (the first folder is gone)
        bool laterIsBundle;                    // false: a lone module in an otherwise empty folder
        bool saveFolderBlocked;                // the later bundle cannot take saved presets
        bool userChosePresets;                 // the user picked a preset folder of their own
        const char *presets, *save, *samples;  // expected; "B/" = the later bundle, "U/" = user data
    };
    const Case cases[] = {
        {"moved bundle", true, true, false, false, "B/Presets/", "B/Presets/User/", "B/Samples/Factory"},
        {"second bundle", false, true, false, false, "B/Presets/", "B/Presets/User/", "B/Samples/Factory"},
        {"chosen folder kept", false, true, false, true, "C/", "B/Presets/User/", "B/Samples/Factory"},
        {"lone module", true, false, false, false, "U/Presets/", "U/Presets/User/", "U/Samples/"},
        {"read-only bundle", false, true, true, false, "B/Presets/", "U/Presets/User/", "B/Samples/Factory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string first = makeBundle(dir.file("first")), later = dir.file("later") + "/";
        const std::string user = dir.file("user") + "/", chosen = dir.file("chosen") + "/";
        SettingsStore store(dir.file("cfg"));
        runSettingsStartup(store, first, user);
        if (c.userChosePresets) {
            std::filesystem::create_directories(chosen);
            store.writeText("presetpath0", chosen);
        }
        if (c.moveFirstToLater) {
            std::filesystem::rename(first, later);
            if (!c.laterIsBundle)
                std::filesystem::remove_all(later), std::filesystem::create_directories(later);
        } else if (c.laterIsBundle) {
            makeBundle(dir.file("later"));
        }
        if (c.saveFolderBlocked) {  // a plain file where the folder would be: unwritable even for root
            std::filesystem::remove(later + "Presets/User");
            test::writeBytes(later + "Presets/User", {1});
        }
        const StartupSettings s = runSettingsStartup(store, later, user);
        auto expand = [&](std::string e) {
            const std::string prefix = e.substr(0, 2), rest = e.substr(2);
            return (prefix == "B/" ? later : prefix == "U/" ? user : chosen) + rest;
        };
        EXPECT_EQ(s.installPath, later);
        EXPECT_EQ(s.presetPath, expand(c.presets));
        EXPECT_EQ(s.presetSavePath, expand(c.save));
        EXPECT_EQ(store.readAll().text("audiofilepath"), expand(c.samples));
        EXPECT_TRUE(std::filesystem::is_directory(s.presetSavePath));
    }
}

TEST(SettingsStartup, ContentPathAndStoredSwitchesAreHonoured) {
    test::TempDir dir;
    SettingsStore store(dir.file("cfg"));
    const std::string content = makeBundle(dir.file("Content"));
    store.writeText("contentpath", content.substr(0, content.size() - 1));  // without its trailing '/'
    const std::string bundle = makeBundle(dir.file("bundle"));
    const StartupSettings first = runSettingsStartup(store, bundle, dir.file("user"));
    EXPECT_EQ(first.presetPath, content + "Presets/");
    EXPECT_EQ(first.presetSavePath, content + "Presets/User/");

    store.writeNumber("ignorePrgChange", 0);
    store.writeNumber("CC Map Recall isolate", 1);
    const StartupSettings later = runSettingsStartup(store, makeBundle(dir.file("moved")), dir.file("user"));
    EXPECT_EQ(later.presetPath, content + "Presets/");  // the installer's folder stays
    EXPECT_EQ(later.ignoreProgramChange, 0.0f);
    EXPECT_EQ(later.ccMapRecallIsolate, 1.0f);
}

TEST(SettingsStartup, AMissingPresetFolderIsTakenFromTheChosenOne) {
    test::TempDir dir;
    const std::string chosen = dir.file("chosen") + "/", bundle = makeBundle(dir.file("bundle"));
    std::filesystem::create_directories(chosen);
    SettingsStore store(dir.file("cfg"));
    store.writeNumber("firstuse", 1);
    store.writeText("installpath", bundle);
    store.writeText("presetpath", chosen);
    EXPECT_EQ(runSettingsStartup(store, bundle, dir.file("user")).presetPath, chosen);

    // Neither is set: the bundle's folder rather than an empty one.
    SettingsStore bare(dir.file("cfg2"));
    bare.writeNumber("firstuse", 1);
    EXPECT_EQ(runSettingsStartup(bare, bundle, dir.file("user")).presetPath, bundle + "Presets/");
}

}  // namespace
}  // namespace kf
