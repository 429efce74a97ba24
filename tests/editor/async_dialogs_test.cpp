// Dialogs that must not block the host's user-interface thread: the request returns at once,
// the answer arrives through poll(), and a closing editor leaves no dialog process behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/async_file_dialogs.h"
#include "support/temp_files.h"

namespace kf::test {
namespace {

using platform::DialogKind;
using platform::DialogTool;

// A stand-in dialog program: records its pid and title, waits until the test drops a "go"
// file, then prints the answer file (exit 0) or exits 1 when there is none.
std::string makeSlowDialog(const TempDir& dir) {
    const std::string script = dir.file("dialog");
    std::ofstream(script) << "#!/bin/sh\necho $$ > '" << dir.file("pid") << "'\necho \"$2\" > '"
                          << dir.file("title") << "'\nwhile [ ! -f '" << dir.file("go")
                          << "' ]; do sleep 0.01; done\nif [ -f '" << dir.file("answer") << "' ]; then cat '"
                          << dir.file("answer") << "'; exit 0; fi\nexit 1\n";
    ::chmod(script.c_str(), 0755);
    return script;
}

// Polls as an editor's idle would (every few milliseconds) until the callback ran.
bool pollUntil(platform::AsyncFileDialogs& dialogs, const bool& called) {
    for (int i = 0; i < 1000 && !called; ++i) {
        dialogs.poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return called;
}

pid_t readPid(const TempDir& dir) {
    for (int i = 0; i < 1000; ++i) {
        std::ifstream in(dir.file("pid"));
        pid_t pid = 0;
        if (in >> pid) return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

TEST(AsyncFileDialogs, TheAnswerArrivesThroughPollWhileTheCallerRunsOn) {
    TempDir dir;
    platform::SpawnedFileDialogs dialogs(makeSlowDialog(dir), DialogTool::kKdialog);
    for (const bool confirmed : {true, false}) {
        std::optional<std::string> answer = "unset";
        bool called = false;
        std::filesystem::remove(dir.file("go"));
        if (confirmed) std::ofstream(dir.file("answer")) << "/music/take 1.wav\n";
        ASSERT_TRUE(dialogs.request(DialogKind::kOpen, "Choose a file to load", "/music",
                                    {{"Audio file", "wav"}},
                                    [&](std::optional<std::string> a) { answer = a, called = true; }));
        EXPECT_FALSE(dialogs.request(DialogKind::kSave, "second", "", {}, [](auto) {})) << "one at a time";
        ASSERT_GT(readPid(dir), 0);
        for (int i = 0; i < 5; ++i) dialogs.poll();
        EXPECT_FALSE(called) << "the dialog is still open";
        EXPECT_TRUE(dialogs.busy());
        std::ofstream(dir.file("go")).put('1');
        ASSERT_TRUE(pollUntil(dialogs, called));
        EXPECT_EQ(answer, confirmed ? std::optional<std::string>("/music/take 1.wav") : std::nullopt);
        EXPECT_FALSE(dialogs.busy());
        std::ifstream title(dir.file("title"));
        std::string t;
        std::getline(title, t);
        EXPECT_EQ(t, "Choose a file to load");
        std::filesystem::remove(dir.file("answer"));
    }
    platform::SpawnedFileDialogs none(dir.file("no-such-program"), DialogTool::kZenity);
    EXPECT_FALSE(none.request(DialogKind::kFolder, "t", "", {}, [](auto) { FAIL(); }));
    EXPECT_FALSE(none.busy());
}

TEST(AsyncFileDialogs, CancelKillsAndReapsTheDialogWithoutAnswering) {
    TempDir dir;
    pid_t pid = 0;
    {
        platform::SpawnedFileDialogs dialogs(makeSlowDialog(dir), DialogTool::kZenity);
        ASSERT_TRUE(dialogs.request(DialogKind::kFolder, "t", "", {}, [](auto) { FAIL() << "cancelled"; }));
        pid = readPid(dir);
        ASSERT_GT(pid, 0);
        dialogs.cancel();
        EXPECT_FALSE(dialogs.busy());
        EXPECT_EQ(::kill(pid, 0), -1) << "killed and reaped, not left a zombie";
        // The destructor does the same for a dialog still open when its owner goes.
        std::filesystem::remove(dir.file("pid"));
        ASSERT_TRUE(dialogs.request(DialogKind::kSave, "t", "", {}, [](auto) { FAIL() << "owner gone"; }));
        pid = readPid(dir);
        ASSERT_GT(pid, 0);
    }
    EXPECT_EQ(::kill(pid, 0), -1);
}

TEST(AsyncFileDialogs, ScriptedAnswersArriveAtTheNextPoll) {
    platform::ScriptedFileDialogs scripted;
    scripted.pushAnswer("/p/User/bright.kfn");
    platform::PolledFileDialogs dialogs(scripted);
    std::optional<std::string> answer;
    ASSERT_TRUE(dialogs.request(DialogKind::kSave, "Save Preset", "/p/", {{"Preset file", "kfn"}},
                                [&](std::optional<std::string> a) { answer = a; }));
    EXPECT_TRUE(scripted.requests().empty()) << "nothing is shown before the idle call";
    dialogs.poll();
    EXPECT_EQ(answer, "/p/User/bright.kfn");
    ASSERT_EQ(scripted.requests().size(), 1u);
    EXPECT_EQ(scripted.requests()[0].title, "Save Preset");
    EXPECT_EQ(scripted.requests()[0].kind, platform::ScriptedFileDialogs::Request::kSave);
}

}  // namespace
}  // namespace kf::test
