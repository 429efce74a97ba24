// The Windows platform services, as tests/platform checks the Linux ones: the settings in the
// registry and the start-up's folders, file names outside the ANSI code page, safe saves,
// message boxes and the common dialogs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/async_file_dialogs.h"
#include "platform/file_system.h"
#include "platform/message_service.h"
#include "platform/safe_files.h"
#include "platform/settings_store.h"
#include "platform/shell.h"
#include "platform/user_data.h"
#include "plugin/uniclient.h"
#include "state/sample_data.h"
#include "state/settings_startup.h"
#include "support/temp_files.h"
#include "test_files.h"
#include "windows_test_support.h"

namespace kf::test {
namespace {

using platform::widen;

// The key of one test, empty at its start and removed at its end.
class ScratchKey {
  public:
    ScratchKey() { RegDeleteTreeW(HKEY_CURRENT_USER, widen(kName).c_str()); }
    ~ScratchKey() { RegDeleteTreeW(HKEY_CURRENT_USER, widen(kName).c_str()); }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;
    static constexpr const char* kName = "Software\\Tallow Mill\\Kestrafone tests\\platform";
    std::optional<RegistryValue> value(const std::string& name) const { return registryValue(kName, name); }
};

// A bundle folder: Presets\User and Samples\Factory below it; its path with a backslash.
std::string makeBundle(const std::string& folder) {
    std::filesystem::create_directories(platform::fsPath(folder + "\\Presets\\User"));
    std::filesystem::create_directories(platform::fsPath(folder + "\\Samples\\Factory"));
    return folder + "\\";
}

TEST(RegistrySettings, FirstRunWritesEachValueWithItsTypeAndASecondStartWritesNothing) {
    ScratchKey key;
    TempDir dir;
    const std::string bundle = makeBundle(dir.file("Bündel"));  // a text beyond the ANSI code page
    {
        platform::SettingsStore store(ScratchKey::kName);
        EXPECT_TRUE(runSettingsStartup(store, bundle, dir.file("user")).firstRun);
    }
    const struct {
        const char* name;
        DWORD type;
        std::string text;
        DWORD number;
    } expected[] = {
        {"installpath", REG_SZ, bundle, 0},
        {"firstuse", REG_DWORD, "", 1},
        {"presetpath0", REG_SZ, bundle + "Presets\\", 0},
        {"presetsavepath0", REG_SZ, bundle + "Presets\\User\\", 0},
        {"audiofilepath", REG_SZ, bundle + "Samples\\Factory", 0},
        {"ignorePrgChange", REG_DWORD, "", 1},
        {"CC Map Recall isolate", REG_DWORD, "", 0},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        const auto v = key.value(e.name);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->type, e.type);
        EXPECT_EQ(v->text, widen(e.text));
        EXPECT_EQ(v->number, e.number);
    }
    platform::SettingsStore again(ScratchKey::kName);
    EXPECT_FALSE(runSettingsStartup(again, bundle, dir.file("user")).firstRun);
    EXPECT_EQ(again.fileWrites(), 0);
    EXPECT_EQ(key.value("installpath")->text, widen(bundle));
}

TEST(RegistrySettings, AValueOfAnotherTypeReadsAsMissingAndIsLeftAlone) {
    ScratchKey key;
    TempDir dir;
    const std::string bundle = makeBundle(dir.file("bundle"));
    const DWORD one = 1;
    const BYTE binary[4] = {1, 0, 0, 0};
    setRegistryValue(ScratchKey::kName, "firstuse", REG_DWORD, &one, sizeof one);
    setRegistryText(ScratchKey::kName, "ignorePrgChange", L"0");
    setRegistryValue(ScratchKey::kName, "CC Map Recall isolate", REG_BINARY, binary, sizeof binary);
    platform::SettingsStore store(ScratchKey::kName);
    const StartupSettings s = runSettingsStartup(store, bundle, dir.file("user"));
    EXPECT_FALSE(s.firstRun);
    EXPECT_EQ(s.ignoreProgramChange, 1.0f);  // the defaults...
    EXPECT_EQ(s.ccMapRecallIsolate, 0.0f);
    EXPECT_EQ(key.value("ignorePrgChange")->type, DWORD(REG_SZ));  // ...and the values untouched
    EXPECT_EQ(key.value("CC Map Recall isolate")->type, DWORD(REG_BINARY));

    // A first-run marker that is no number is no marker: the first run writes it anew.
    setRegistryText(ScratchKey::kName, "firstuse", L"1");
    EXPECT_TRUE(runSettingsStartup(store, bundle, dir.file("user")).firstRun);
    EXPECT_EQ(key.value("firstuse")->type, DWORD(REG_DWORD));
    EXPECT_EQ(key.value("ignorePrgChange")->type, DWORD(REG_DWORD));

    // The size rules of a read hold for the registry's texts too.
    setRegistryText(ScratchKey::kName, "long", std::wstring(1024, L'x'));
    setRegistryText(ScratchKey::kName, "too long", std::wstring(2000, L'x'));
    std::string text;
    EXPECT_TRUE(store.readText("long", text));
    EXPECT_EQ(text, std::string(1023, 'x'));
    EXPECT_FALSE(store.readText("too long", text));
}

TEST(WindowsStartup, TheInstallPathIsThisModulesFolderAndALoneModuleKeepsItsFilesInAppData) {
    ScratchKey key;
    TempDir dir;
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::string folder = platform::folderOfThisModule();
    EXPECT_EQ(folder, platform::utf8Path(platform::fsPath(platform::narrow(program)).parent_path()) + "\\");

    const std::string appData = dir.file("Anwendungsdaten");
    _wputenv_s(L"APPDATA", widen(appData).c_str());
    EXPECT_EQ(platform::userDataFolder(), appData + "\\Kestrafone\\");
    platform::SettingsStore store(ScratchKey::kName);
    runSettingsStartup(store, makeBundle(dir.file("first")), platform::userDataFolder());
    const std::string lone = dir.file("lone") + "\\";
    std::filesystem::create_directories(platform::fsPath(lone));
    const StartupSettings s = runSettingsStartup(store, lone, platform::userDataFolder());
    EXPECT_EQ(s.installPath, lone);
    EXPECT_EQ(s.presetPath, appData + "\\Kestrafone\\Presets\\");
    EXPECT_EQ(s.presetSavePath, appData + "\\Kestrafone\\Presets\\User\\");
    EXPECT_TRUE(platform::isWritableFolder(s.presetSavePath));

    // The instance's own start-up takes this module's folder.
    EXPECT_EQ(runSettingsStartup(store).installPath, folder);
    EXPECT_EQ(key.value("installpath")->text, widen(folder));
}

TEST(WindowsFiles, NamesOutsideTheAnsiCodePageAreFoundListedAndLoaded) {
    TempDir dir;
    const std::string folder = dir.file("Proben-Ωü");
    std::filesystem::create_directories(platform::fsPath(folder + "\\Ordner-é"));
    const std::string sample = folder + "\\Stimme-ä.wav";
    writeBytes(platform::fsPath(sample), makeWav({}, {-16384, 16384, 0}));
    writeBytes(platform::fsPath(folder + "\\Chor-ß.kfn"), {});

    TMSampleData data;
    ASSERT_TRUE(data.loadFile(sample));
    EXPECT_EQ(data.name(), "Stimme-ä");
    EXPECT_EQ(data.frames(), 3);
    TMChunk chunk;  // the path as the state stores it, and back
    ASSERT_TRUE(chunk.allocate(data.recordWords()));
    data.writeChunk(chunk);
    chunk.setIndex(0);
    TMSampleData restored;
    EXPECT_EQ(restored.readChunk(chunk, false), 1);
    EXPECT_EQ(restored.path(), sample);
    EXPECT_EQ(restored.frames(), 3);

    std::vector<std::string> names;
    for (const auto& e : platform::listFolder(folder)) names.push_back(e.name + (e.isFolder ? "\\" : ""));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Chor-ß.kfn", "Ordner-é\\", "Stimme-ä.wav"}));
    const auto presets = TMUniClient::listPresets(folder);
    ASSERT_EQ(presets.size(), 2u);
    EXPECT_EQ(presets[0].name, "Chor-ß");
    EXPECT_EQ(presets[0].path, folder + "\\Chor-ß.kfn");
    EXPECT_TRUE(presets[1].isFolder);
}

TEST(WindowsFiles, SavesReplaceOnlyRegularFilesAndLeaveNothingBeside) {
    TempDir dir;
    const std::string path = dir.file("Lied-é.kfn");
    std::string error;
    const Bytes first{1, 2, 3}, second{4, 5};
    ASSERT_TRUE(platform::replaceFile(path, first, error)) << error;
    ASSERT_TRUE(platform::replaceFile(path, second, error)) << error;
    std::vector<uint8_t> read;
    ASSERT_TRUE(platform::readRegularFile(path, 100, read, error)) << error;
    EXPECT_EQ(read, second);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "a temporary file was left";

    // A read-only file is refused and kept; folders and devices are never written or read.
    SetFileAttributesW(widen(path).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(platform::replaceFile(path, first, error));
    SetFileAttributesW(widen(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(platform::readRegularFile(path, 100, read, error));
    EXPECT_EQ(read, second);
    for (const std::string& bad : {dir.path().string(), std::string("NUL"), dir.file("CON")}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(platform::replaceFile(bad, first, error));
        EXPECT_FALSE(platform::readRegularFile(bad, 100, read, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(platform::openRegularStream(bad), nullptr);
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.path()));
    EXPECT_FALSE(platform::readRegularFile(path, 1, read, error)) << "over the size limit";
}

TEST(MessageBoxes, EachOnItsOwnThreadAndOneAtATime) {
    auto service = platform::makeDesktopMessageService();
    const auto start = std::chrono::steady_clock::now();
    service->showFormattedMessage("%s: Stimme-ä is damaged", "Kestrafone");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "the caller waited";
    const HWND box = waitForWindow(L"Kestrafone");
    ASSERT_TRUE(box);
    wchar_t text[256] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 256);  // a message box's text control
    EXPECT_EQ(std::wstring(text), widen("Kestrafone: Stimme-ä is damaged"));
    EXPECT_TRUE(GetDlgItem(box, IDOK));
    EXPECT_FALSE(GetDlgItem(box, IDCANCEL));

    service->showMessage("dropped while the first is open");
    press(box, IDOK);
    ASSERT_TRUE(windowCloses(box));
    EXPECT_FALSE(waitForWindow(L"Kestrafone", nullptr, 30)) << "the second message was shown";
    // Once the box is gone the next message shows again.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    service->showMessage("next");
    const HWND next = waitForWindow(L"Kestrafone");
    ASSERT_TRUE(next);
    press(next, IDOK);
    EXPECT_TRUE(windowCloses(next));
}

TEST(CommonDialogs, OpenSaveAndFolderAnswerAsTheUserChose) {
    TempDir dir;
    const std::string existing = dir.file("Stimme-ä.wav");
    writeBytes(platform::fsPath(existing), {0});
    auto dialogs = platform::makeDesktopFileDialogs();
    const auto answer = [&](const wchar_t* title, auto&& user, auto&& ask) {
        std::thread worker(std::forward<decltype(user)>(user), title);
        auto result = ask();
        worker.join();
        return result;
    };

    // Open: starts in the folder given, returns the chosen file's UTF-8 path.
    EXPECT_EQ(
        answer(
            L"Choose a file to load",
            [](const wchar_t* t) { typeAndConfirm(waitForWindow(t), "Stimme-ä.wav"); },
            [&] {
                return dialogs->openFile("Choose a file to load", dir.file(""), {{"Audio file", {"wav"}}});
            }),
        existing);

    // Save over an existing file: only after the user agreed to replace it.
    EXPECT_EQ(answer(
                  L"Save Preset",
                  [](const wchar_t* t) {
                      const HWND dialog = waitForWindow(t);
                      typeAndConfirm(dialog, "Stimme-ä.wav");
                      const HWND ask = waitForWindow(t, dialog);
                      ASSERT_TRUE(ask) << "no question before replacing";
                      press(ask, IDYES);
                  },
                  [&] {
                      return dialogs->saveFile("Save Preset", dir.file(""), {{"Audio file", {"wav"}}});
                  }),
              existing);
    // A bare name gets the type's extension.
    EXPECT_EQ(answer(
                  L"Save Preset", [](const wchar_t* t) { typeAndConfirm(waitForWindow(t), "neu"); },
                  [&] {
                      return dialogs->saveFile("Save Preset", dir.file(""), {{"Preset file", {"kfn"}}});
                  }),
              dir.file("neu.kfn"));

    std::filesystem::create_directories(platform::fsPath(dir.file("Ordner-é")));
    EXPECT_EQ(answer(
                  L"Choose Sample Directory",
                  [&](const wchar_t* t) { typeAndConfirm(waitForWindow(t), dir.file("Ordner-é")); },
                  [&] { return dialogs->chooseFolder("Choose Sample Directory", dir.file("")); }),
              dir.file("Ordner-é"));
    EXPECT_EQ(answer(
                  L"Choose Sample Directory", [](const wchar_t* t) { press(waitForWindow(t), IDCANCEL); },
                  [&] { return dialogs->chooseFolder("Choose Sample Directory", ""); }),
              std::nullopt);
}

TEST(CommonDialogs, TheNonBlockingFormAnswersThroughPollAndCancelClosesTheDialog) {
    TempDir dir;
    writeBytes(platform::fsPath(dir.file("take.wav")), {0});
    auto dialogs = platform::makeDesktopAsyncFileDialogs();
    std::optional<std::optional<std::string>> got;
    using platform::DialogStart;
    ASSERT_EQ(dialogs->request(platform::DialogKind::kOpen, "Choose a file to load", dir.file(""), {},
                               [&](std::optional<std::string> a) { got = std::move(a); }),
              DialogStart::kOpened);
    EXPECT_EQ(dialogs->request(platform::DialogKind::kOpen, "again", "", {}, [](auto) {}),
              DialogStart::kBusy);
    const HWND dialog = waitForWindow(L"Choose a file to load");
    ASSERT_TRUE(dialog);
    dialogs->poll();
    EXPECT_FALSE(got) << "answered before the user chose";
    typeAndConfirm(dialog, "take.wav");
    for (int i = 0; i < 1000 && !got; ++i, Sleep(10)) dialogs->poll();
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, dir.file("take.wav"));

    bool called = false;
    ASSERT_EQ(dialogs->request(platform::DialogKind::kFolder, "Choose Preset Directory", "", {},
                               [&](auto) { called = true; }),
              DialogStart::kOpened);
    const HWND folder = waitForWindow(L"Choose Preset Directory");
    ASSERT_TRUE(folder);
    dialogs->cancel();
    EXPECT_FALSE(IsWindow(folder));
    EXPECT_FALSE(dialogs->busy());
    dialogs->poll();
    EXPECT_FALSE(called);
}

}  // namespace
}  // namespace kf::test
