#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/settings_store.h"
#include "platform/user_data.h"
#include "state/settings_startup.h"
#include "support/environment.h"
#include "support/temp_files.h"

namespace kf {
namespace {

using platform::SettingsStore;
using platform::SettingsValues;

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Texts of up to 1025 bytes are cut to 1023, longer ones are dropped; names ignore case, a
// value of the other type replaces the old one, and an erased name leaves the others in order.
TEST(SettingsValues, TextSizesNamesAndTypes) {
    SettingsValues v;
    for (auto [length, kept] : {std::pair{1024, true}, {1025, true}, {1026, false}, {2000, false}}) {
        v.setText("t", std::string(static_cast<std::size_t>(length), 'x'));
        EXPECT_EQ(v.text("T"), kept ? std::optional(std::string(1023, 'x')) : std::nullopt) << length;
    }
    v.setNumber("ignorePrgChange", 1);
    EXPECT_EQ(v.number("IGNOREPRGCHANGE"), 1);
    EXPECT_EQ(v.text("ignorePrgChange"), std::nullopt);
    v.setText("IgnorePrgChange", "on");
    EXPECT_EQ(v.number("ignorePrgChange"), std::nullopt);
    EXPECT_EQ(v.text("ignoreprgchange"), "on");

    v.erase("T");
    EXPECT_FALSE(v.contains("t"));
    EXPECT_EQ(v.text("IGNOREPRGCHANGE"), "on");
    v.setNumber("t", 3);
    EXPECT_EQ(v.serialize(), "# Kestrafone settings 1\ntext\tIgnorePrgChange\ton\nnumber\tt\t3\n");
}

// Our own file form reads back whatever the texts hold; foreign text is refused, and what is
// tolerated is reported.
TEST(SettingsValues, FileFormRoundTripsAndForeignTextIsRefused) {
    SettingsValues own;
    own.setText("CC Map Recall isolate\tx", "a\\b\tc\nd\re\\t");
    own.setNumber("n", -2147483647 - 1);
    own.setText("empty", "");
    EXPECT_EQ(SettingsValues::parse(own.serialize()), own);
    const std::string h = "# Kestrafone settings 1";
    struct Case {
        std::string text;
        std::size_t values;  // SIZE_MAX: refused as a whole
        bool tolerated;
    };
    const Case cases[] = {
        {"", SIZE_MAX, false},
        {"[settings]\nx=1\n", SIZE_MAX, false},
        {h + "\nnumber\tok\t-5\ntext\tt\tv\\\\w\n", 2, false},
        {h + "\r\ntext\tcontentpath\t/srv/c/\r\n", 1, true},
        // A bad number, one out of range, an unknown type, a bad escape, a blank line.
        {h + "\nnumber\ta\t12x\nnumber\tb\t99999999999\nbogus\tc\t1\ntext\td\\q\tv\n\nnumber\tok\t-5\n", 1,
         true},
    };
    for (const Case& c : cases) {
        std::string tolerated;
        const auto v = SettingsValues::parse(c.text, &tolerated);
        SCOPED_TRACE(c.text);
        ASSERT_EQ(v.has_value(), c.values != SIZE_MAX);
        if (!v) continue;
        EXPECT_EQ(v->size(), c.values);
        EXPECT_EQ(!tolerated.empty(), c.tolerated) << tolerated;
    }
    // However many lines cannot be read, the notice stays one short line.
    std::string many = h + "\n", tolerated;
    for (int i = 0; i < 10000; ++i) many += "bogus\n";
    ASSERT_TRUE(SettingsValues::parse(many, &tolerated));
    EXPECT_EQ(tolerated, "lines 2, 3, 4 and 9997 more cannot be read");
    EXPECT_EQ(SettingsValues::parse(h + "\r\ntext\tcontentpath\t/srv/c/\r\n")->text("contentpath"),
              "/srv/c/");
}

// A file we did not write exactly as it is may hold values the user needs: start-up and
// later writes read what they can and leave it byte for byte as it was.
TEST(SettingsStore, AFileNeedingToleranceIsNeverReplaced) {
    struct Case {
        const char* what;
        std::string header, lineEnd, extra;  // the file: header, then a content path line, then extra
        bool contentRead;                    // the content path is still used by the first-run set-up
    };
    const std::string h = "# Kestrafone settings 1";
    std::vector<Case> cases = {
        {"CRLF", h, "\r\n", "", true},
        {"byte-order mark", "\xEF\xBB\xBF" + h, "\n", "", true},
        {"one NUL byte", h, "\n", std::string("number\tx\t1\0\n", 12), true},
        {"unknown version", "# Kestrafone settings 9", "\n", "", false},
        {"over 4 MiB", h, "\n", std::string(4 << 20, '#'), false},
    };
    if (::geteuid() != 0) cases.push_back({"unreadable", h, "\n", "", false});  // root reads anyway
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string content = dir.file("c") + "/", bundle = dir.file("bundle") + "/";
        for (const std::string& folder : {content, bundle})
            std::filesystem::create_directories(folder + "Presets");
        const std::string bytes =
            c.header + c.lineEnd + "text\tcontentpath\t" + content + c.lineEnd + c.extra;
        SettingsStore store(dir.file("cfg"));
        std::filesystem::create_directories(store.folder());
        test::writeBytes(store.filePath(), test::Bytes(bytes.begin(), bytes.end()));
        if (std::string(c.what) == "unreadable") ::chmod(store.filePath().c_str(), 0);

        testing::internal::CaptureStderr();
        const StartupSettings s = runSettingsStartup(store, bundle, dir.file("user") + "/");
        const bool written = store.writeText("presetpath0", "/chosen/");
        const std::string notice = testing::internal::GetCapturedStderr();
        ::chmod(store.filePath().c_str(), 0600);
        EXPECT_FALSE(written);
        EXPECT_TRUE(store.readOnly());
        EXPECT_EQ(store.fileWrites(), 0);
        EXPECT_EQ(test::readBytes(store.filePath()), test::Bytes(bytes.begin(), bytes.end()));
        // In memory the instance works as on a first run, from what could be read.
        EXPECT_TRUE(s.firstRun);
        EXPECT_EQ(s.presetPath, (c.contentRead ? content : bundle) + "Presets/");
        // One line, naming the file.
        EXPECT_NE(notice.find(store.filePath()), std::string::npos) << notice;
        EXPECT_EQ(std::count(notice.begin(), notice.end(), '\n'), 1) << notice;
    }
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
    // Two processes (numbers) and two threads in this one (texts), each writing its own names.
    auto writeAll = [&folder](const std::string& prefix, bool text) {
        SettingsStore store(folder);
        bool ok = true;
        for (int i = 0; i < kValues; ++i)
            ok &= text ? store.writeText(prefix + std::to_string(i), std::to_string(i))
                       : store.writeNumber(prefix + std::to_string(i), i);
        return ok;
    };
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = ::fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) ::_exit(writeAll("p" + std::to_string(p) + "_", false) ? 0 : 1);
    }
    std::thread t0([&] { EXPECT_TRUE(writeAll("t0_", true)); }),
        t1([&] { EXPECT_TRUE(writeAll("t1_", true)); });
    t0.join(), t1.join();
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

// The environment is put back as it was at the end. Relative folders, HOME included, would
// put the user's files under whatever folder the host runs in: the account's home stands in.
TEST(SettingsStore, DefaultFolderFollowsTheEnvironment) {
    const passwd* pw = ::getpwuid(::getuid());
    ASSERT_TRUE(pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/');
    const std::string account = pw->pw_dir;
    const struct {
        const char *home, *xdg, *over;
        std::string expected;
    } cases[] = {
        {"/home/someone", nullptr, nullptr, "/home/someone/.config/Tallow Mill/Kestrafone"},
        {"/home/someone", "relative/cfg", nullptr, "/home/someone/.config/Tallow Mill/Kestrafone"},
        {"/home/someone", "/cfg", nullptr, "/cfg/Tallow Mill/Kestrafone"},
        {"/home/someone", "/cfg", "/tmp/kf-settings", "/tmp/kf-settings"},
        {"relative/home", "relative/cfg", nullptr, account + "/.config/Tallow Mill/Kestrafone"},
        {nullptr, nullptr, nullptr, account + "/.config/Tallow Mill/Kestrafone"},
    };
    for (const auto& k : cases) {
        const test::ScopedEnv home("HOME", k.home), xdg("XDG_CONFIG_HOME", k.xdg),
            over(SettingsStore::kFolderEnvironment, k.over), data("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(SettingsStore::defaultFolder(), k.expected)
            << (k.home ? k.home : "no HOME") << ", " << (k.xdg ? k.xdg : "no XDG_CONFIG_HOME");
        const std::string user = platform::userDataFolder();
        EXPECT_EQ(user, (k.home && k.home[0] == '/' ? k.home : account) + "/.local/share/Kestrafone/");
    }
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
        SettingsValues expected;
        expected.setText("installpath", bundle);
        expected.setNumber("firstuse", 1);
        expected.setText("presetpath0", bundle + "Presets/");
        expected.setText("presetsavepath0", bundle + "Presets/User/");
        expected.setText("audiofilepath", bundle + "Samples/Factory");
        expected.setNumber("ignorePrgChange", 1);
        expected.setNumber("CC Map Recall isolate", 0);
        EXPECT_EQ(store.readAll(), expected);
    }
    // Values some other version wrote: the start-up keeps them and does not write.
    SettingsStore again(dir.file("cfg"));
    std::string others;
    for (int i = 0; i < 3000; ++i)
        others += "number\tOther" + std::to_string(i) + "\t" + std::to_string(i) + "\n";
    std::ofstream(again.filePath(), std::ios::app) << others;
    const ino_t before = inodeOf(again.filePath());
    EXPECT_FALSE(runSettingsStartup(again, bundle, dir.file("user")).firstRun);
    std::string kept = "kept";
    EXPECT_FALSE(again.readText("missing", kept));
    EXPECT_EQ(kept, "kept");
    EXPECT_EQ(again.fileWrites(), 0);
    EXPECT_EQ(inodeOf(again.filePath()), before);
    EXPECT_FALSE(std::filesystem::exists(dir.file("user")));  // nothing needed the user's folder
    // A write keeps them too, in their order.
    EXPECT_TRUE(again.writeNumber("other7", -7));
    const std::string old7 = "number\tOther7\t7\n";
    others.replace(others.find(old7), old7.size(), "number\tother7\t-7\n");
    EXPECT_TRUE(again.readAll().serialize().ends_with(others));
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

TEST(SettingsStartup, ContentPathStoredSwitchesAndChosenPresetFolderAreHonoured) {
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

    // A missing preset folder is taken from the chosen one.
    const std::string chosen = dir.file("chosen") + "/";
    std::filesystem::create_directories(chosen);
    SettingsStore chose(dir.file("cfg1"));
    chose.writeNumber("firstuse", 1);
    chose.writeText("installpath", bundle);
    chose.writeText("presetpath", chosen);
    EXPECT_EQ(runSettingsStartup(chose, bundle, dir.file("user")).presetPath, chosen);

    // Neither is set: the bundle's folder rather than an empty one.
    SettingsStore bare(dir.file("cfg2"));
    bare.writeNumber("firstuse", 1);
    EXPECT_EQ(runSettingsStartup(bare, bundle, dir.file("user")).presetPath, bundle + "Presets/");
}

}  // namespace
}  // namespace kf
