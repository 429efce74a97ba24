#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/desktop_message_service.h"
#include "platform/file_dialogs.h"
#include "state/file_chooser.h"
#include "state/sample_data.h"
#include "support/scripted_file_dialogs.h"
#include "support/temp_files.h"

namespace kf {
namespace {

using platform::DialogTool;
using platform::FileType;

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

// A stand-in for zenity/kdialog: logs its arguments one per line and prints the answer
// file's content (exit 0), or exits 1 (cancel) when there is none.
std::string makeFakeDialog(const test::TempDir& dir) {
    std::string script = dir.file("fake-dialog");
    std::ofstream(script) << "#!/bin/sh\n"
                          << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << dir.file("args")
                          << "'\n"
                          << "if [ -f '" << dir.file("answer") << "' ]; then cat '" << dir.file("answer")
                          << "'; exit 0; fi\nexit 1\n";
    ::chmod(script.c_str(), 0755);
    return script;
}

TEST(DesktopFileDialogs, ZenityOpenOffersTheTypesAndSaveAsksBeforeReplacing) {
    test::TempDir dir;
    platform::DesktopFileDialogs dialogs(makeFakeDialog(dir), DialogTool::kZenity);
    std::ofstream(dir.file("answer")) << "/music/take 1.wav\n";
    const auto chosen =
        dialogs.openFile("Choose a file to load", "/music/", {{"Audio file", {"wav", "aif"}}});
    EXPECT_EQ(chosen, "/music/take 1.wav");
    EXPECT_EQ(
        lines(dir.file("args")),
        (std::vector<std::string>{"--file-selection", "--title=Choose a file to load", "--filename=/music/",
                                  "--file-filter=Audio file | *.[wW][aA][vV] *.[aA][iI][fF]"}));
    // The save dialog is told the suggested name with its extension and to ask before it
    // lets an existing file be chosen. Cancel, or no dialog program: nothing.
    std::filesystem::remove(dir.file("answer"));
    EXPECT_EQ(dialogs.saveFile("Save Preset", "/p/User/default.kfn", {{"Preset file", {"kfn"}}}),
              std::nullopt);
    const auto args = lines(dir.file("args"));
    EXPECT_TRUE(contains(args, "--save") && contains(args, "--confirm-overwrite"));
    EXPECT_TRUE(contains(args, "--filename=/p/User/default.kfn"));
    platform::DesktopFileDialogs none(dir.file("no-such-program"), DialogTool::kZenity);
    EXPECT_EQ(none.chooseFolder("x", ""), std::nullopt);
}

// A stand-in zenity that answers the first file its first filter shows in the start folder,
// and lists all it shows, one per line, in "shown": what a user would see in the dialog.
std::string makeFilteringDialog(const test::TempDir& dir) {
    std::string script = dir.file("filtering-dialog");
    std::ofstream(script) << "#!/bin/sh\nset -f\nfor a in \"$@\"; do case \"$a\" in\n"
                          << "--filename=*) folder=\"${a#--filename=}\";;\n"
                          << "--file-filter=*) [ -n \"$patterns\" ] || patterns=\"${a#*| }\";;\nesac; done\n"
                          << "cd \"$folder\" || exit 1\nfor p in $patterns; do set +f; for f in $p; do\n"
                          << "[ -f \"$f\" ] && echo \"$f\"; done; set -f; done | sort > '"
                          << dir.file("shown") << "'\nhead -n 1 '" << dir.file("shown") << "'\n";
    ::chmod(script.c_str(), 0755);
    return script;
}

TEST(DesktopFileDialogs, TheSampleDialogShowsEveryAudioFileWhateverTheCaseOfItsName) {
    test::TempDir dir, samples;
    for (const char* name : {"take.wav", "LOUD.WAV", "kick.aif", "Pad.AIFF", "b.Aiff", "notes.txt", "x.wave"})
        std::ofstream(samples.file(name)) << "";
    platform::DesktopFileDialogs zenity(makeFilteringDialog(dir), DialogTool::kZenity);
    EXPECT_EQ(zenity.openFile("t", samples.path().string(), fileTypesForExtension("wav")), "LOUD.WAV");
    EXPECT_EQ(lines(dir.file("shown")),
              (std::vector<std::string>{"LOUD.WAV", "Pad.AIFF", "b.Aiff", "kick.aif", "take.wav"}));
}

TEST(DesktopFileDialogs, FolderDialogsStartInsideTheFolder) {
    test::TempDir dir;
    platform::DesktopFileDialogs zenity(makeFakeDialog(dir), DialogTool::kZenity);
    std::ofstream(dir.file("answer")) << "/samples\n";
    EXPECT_EQ(zenity.chooseFolder("Choose Sample Directory", "/samples"), "/samples");
    const auto args = lines(dir.file("args"));
    EXPECT_TRUE(contains(args, "--directory"));
    EXPECT_TRUE(contains(args, "--filename=/samples/"));

    // An existing folder given as a file dialog's start opens inside it as well.
    zenity.openFile("t", dir.path().string(), {});
    EXPECT_TRUE(contains(lines(dir.file("args")), "--filename=" + dir.path().string() + "/"));

    platform::DesktopFileDialogs kdialog(makeFakeDialog(dir), DialogTool::kKdialog);
    EXPECT_EQ(kdialog.openFile("Choose a file to load", "/p", {{"Preset file", {"kfn"}}}), "/samples");
    EXPECT_EQ(lines(dir.file("args")),
              (std::vector<std::string>{"--title", "Choose a file to load", "--getopenfilename", "/p",
                                        "*.[kK][fF][nN]|Preset file"}));
}

TEST(FileChooser, FoldersStartFromAndAreStoredInTheirSetting) {
    test::TempDir dir;
    platform::SettingsStore settings(dir.path().string());
    settings.writeText("presetpath0", "/old/");
    platform::ScriptedFileDialogs dialogs;
    TMFileChooser chooser(dialogs, settings);

    dialogs.pushAnswer("/new/presets");
    std::string result = "EMPTY";
    EXPECT_TRUE(chooser.selectFolder(result, "presetpath0", TMFileChooser::kPresetFolderTitle));
    EXPECT_EQ(result, "/new/presets/");
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].start, "/old/");
    EXPECT_EQ(settings.readAll().text("presetpath0"), "/new/presets/");

    // Cancel: neither the result nor the setting changes.
    result = "EMPTY";
    EXPECT_FALSE(chooser.selectFolder(result, "presetpath0", TMFileChooser::kPresetFolderTitle));
    EXPECT_EQ(result, "EMPTY");
    EXPECT_EQ(settings.readAll().text("presetpath0"), "/new/presets/");

    // "notset": no start folder, nothing stored.
    dialogs.pushAnswer("/tmp/x/");
    EXPECT_TRUE(chooser.selectFolder(result, TMFileChooser::kNotSet, "t"));
    EXPECT_EQ(result, "/tmp/x/");
    EXPECT_EQ(dialogs.requests().back().start, "");
    EXPECT_FALSE(settings.readAll().contains("notset"));
}

TEST(FileChooser, OpenAndSaveUseTheTypesOfTheExtension) {
    test::TempDir dir;
    platform::SettingsStore settings(dir.path().string());
    platform::ScriptedFileDialogs dialogs;
    TMFileChooser chooser(dialogs, settings);
    dialogs.pushAnswer("/s/kick.aif");
    std::string path = "/s/";
    EXPECT_TRUE(chooser.openFile(path, "wav"));
    EXPECT_EQ(path, "/s/kick.aif");
    EXPECT_EQ(dialogs.requests()[0].types, (std::vector<FileType>{{"Audio file", {"wav", "aif", "aiff"}}}));

    dialogs.pushAnswer("/p/User/bright");
    EXPECT_TRUE(chooser.saveFile(path, "kfn"));
    EXPECT_EQ(path, "/p/User/bright") << "as the user gave it: the instance decides about the extension";
    EXPECT_EQ(dialogs.requests()[1].types, (std::vector<FileType>{{"Preset file", {"kfn"}}}));
}

// A message box stand-in that logs each text and stays open until a release file exists.
std::string makeFakeMessageBox(const test::TempDir& dir) {
    std::string script = dir.file("fake-box");
    std::ofstream(script) << "#!/bin/sh\n"
                          << "printf '%s|' \"$@\" >> '" << dir.file("shown") << "'\necho >> '"
                          << dir.file("shown") << "'\nwhile [ ! -f '" << dir.file("release")
                          << "' ]; do sleep 0.02; done\n";
    ::chmod(script.c_str(), 0755);
    return script;
}

template <typename Predicate>
bool waitFor(Predicate done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(DesktopMessageService, AMessageWhileAnotherIsOpenIsDropped) {
    test::TempDir dir;
    platform::DesktopMessageService service(makeFakeMessageBox(dir), DialogTool::kZenity);
    ASSERT_TRUE(service.usesDesktop());
    service.showMessage("first <b>");
    ASSERT_TRUE(waitFor([&] { return lines(dir.file("shown")).size() == 1; }));
    EXPECT_EQ(lines(dir.file("shown"))[0], "--info|--title=Kestrafone|--no-markup|--text=first <b>|");
    EXPECT_TRUE(service.messageOpen());
    service.showFormattedMessage("This is not a %s file", "Kestrafone");  // dropped

    std::ofstream(dir.file("release")) << "";
    ASSERT_TRUE(waitFor([&] { return !service.messageOpen(); }));
    std::filesystem::remove(dir.file("release"));
    service.showMessage("third");
    ASSERT_TRUE(waitFor([&] { return lines(dir.file("shown")).size() == 2; }));
    EXPECT_EQ(lines(dir.file("shown"))[1], "--info|--title=Kestrafone|--no-markup|--text=third|");
    std::ofstream(dir.file("release")) << "";
    EXPECT_TRUE(waitFor([&] { return !service.messageOpen(); }));
}

TEST(DesktopMessageService, WithoutADesktopMessagesGoToStandardError) {
    platform::DesktopMessageService service("", DialogTool::kZenity);
    EXPECT_FALSE(service.usesDesktop());
    testing::internal::CaptureStderr();
    service.showMessage("wrong plugin version");
    service.showMessage("second");  // nothing stays open on standard error
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("wrong plugin version"), std::string::npos) << err;
    EXPECT_NE(err.find("second"), std::string::npos) << err;
}

}  // namespace
}  // namespace kf
