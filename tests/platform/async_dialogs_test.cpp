// Dialogs that must not block the host's user-interface thread: the request returns at once,
// the answer arrives through poll(), and a closing editor leaves no dialog process behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <utility>

#include "platform/async_file_dialogs.h"
#include "support/scripted_file_dialogs.h"
#include "support/temp_files.h"

namespace kf::test {
namespace {

using platform::DialogKind;
using platform::DialogStart;

// A stand-in dialog program: writes its pid and title (kdialog's second argument), waits for
// a "go" file, then prints the answer file (exit 0) or exits 1 (cancel) when there is none.
std::string makeSlowDialog(const TempDir& dir) {
    std::string script = dir.file("dialog");
    std::ofstream(script) << "#!/bin/sh\necho $$ > '" << dir.file("pid") << "'\necho \"$2\" > '"
                          << dir.file("title") << "'\nwhile [ ! -f '" << dir.file("go")
                          << "' ]; do sleep 0.01; done\ncat '" << dir.file("answer") << "' 2>/dev/null\n";
    ::chmod(script.c_str(), 0755);
    return script;
}

// Polls as an editor's idle calls would, every few milliseconds, until `done` holds.
template <class F>
bool waitFor(F done, platform::AsyncFileDialogs* dialogs = nullptr) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        if (dialogs) dialogs->poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

pid_t dialogPid(const TempDir& dir) {
    pid_t pid = 0;
    waitFor([&] { return bool(std::ifstream(dir.file("pid")) >> pid); });
    return pid;
}

TEST(AsyncFileDialogs, TheAnswerArrivesThroughPollWhileTheCallerRunsOn) {
    TempDir dir;
    platform::SpawnedFileDialogs dialogs(makeSlowDialog(dir), platform::DialogTool::kKdialog);
    for (const bool confirmed : {true, false}) {
        std::optional<std::string> answer = "unset";
        bool called = false;
        std::filesystem::remove(dir.file("go"));
        std::filesystem::remove(dir.file("answer"));
        if (confirmed) std::ofstream(dir.file("answer")) << "/music/take 1.wav\n";
        ASSERT_EQ(
            dialogs.request(DialogKind::kOpen, "Choose a file to load", "/m", {{"Audio file", {"wav"}}},
                            [&](std::optional<std::string> a) { answer = std::move(a), called = true; }),
            DialogStart::kOpened);
        EXPECT_EQ(dialogs.request(DialogKind::kSave, "second", "", {}, [](auto) {}), DialogStart::kBusy);
        ASSERT_GT(dialogPid(dir), 0);
        for (int i = 0; i < 5; ++i) dialogs.poll();
        EXPECT_FALSE(called) << "the dialog is still open";
        std::ofstream(dir.file("go")).put('1');
        ASSERT_TRUE(waitFor([&] { return called; }, &dialogs));
        EXPECT_EQ(answer, confirmed ? std::optional<std::string>("/music/take 1.wav") : std::nullopt);
        std::string title;
        std::getline(std::ifstream(dir.file("title")), title);
        EXPECT_EQ(title, "Choose a file to load");
    }
    // What a request that opens nothing answers, for the editor to tell the user.
    platform::SpawnedFileDialogs broken(dir.file("no-such-program"), platform::DialogTool::kZenity);
    EXPECT_EQ(broken.request(DialogKind::kFolder, "t", "", {}, [](auto) { FAIL(); }),
              DialogStart::kCouldNotRun);
    platform::SpawnedFileDialogs none("", platform::DialogTool::kZenity);
    EXPECT_EQ(none.request(DialogKind::kFolder, "t", "", {}, [](auto) { FAIL(); }), DialogStart::kNoProgram);
}

// cancel() and the destructor (an editor closing with its dialog open) kill and reap the
// dialog process and never answer.
TEST(AsyncFileDialogs, CancelKillsAndReapsTheDialogWithoutAnswering) {
    TempDir dir;
    pid_t cancelled = 0, orphaned = 0;
    {
        platform::SpawnedFileDialogs dialogs(makeSlowDialog(dir), platform::DialogTool::kZenity);
        ASSERT_EQ(dialogs.request(DialogKind::kFolder, "t", "", {}, [](auto) { FAIL() << "cancelled"; }),
                  DialogStart::kOpened);
        cancelled = dialogPid(dir);
        dialogs.cancel();
        EXPECT_FALSE(dialogs.busy());
        std::filesystem::remove(dir.file("pid"));
        ASSERT_EQ(dialogs.request(DialogKind::kSave, "t", "", {}, [](auto) { FAIL() << "owner gone"; }),
                  DialogStart::kOpened);
        orphaned = dialogPid(dir);
    }
    ASSERT_TRUE(cancelled > 0 && orphaned > 0);
    EXPECT_EQ(::kill(cancelled, 0), -1) << "killed and reaped, not left a zombie";
    EXPECT_EQ(::kill(orphaned, 0), -1);
}

TEST(AsyncFileDialogs, ScriptedAnswersArriveAtTheNextPoll) {
    platform::ScriptedFileDialogs scripted;
    scripted.pushAnswer("/p/User/bright.kfn");
    platform::PolledFileDialogs dialogs(scripted);
    std::optional<std::string> answer;
    ASSERT_EQ(dialogs.request(DialogKind::kSave, "Save Preset", "/p/", {{"Preset file", {"kfn"}}},
                              [&](std::optional<std::string> a) { answer = std::move(a); }),
              DialogStart::kOpened);
    EXPECT_TRUE(scripted.requests().empty()) << "nothing is shown before the idle call";
    dialogs.poll();
    EXPECT_EQ(answer, "/p/User/bright.kfn");
    ASSERT_EQ(scripted.requests().size(), 1u);
    EXPECT_EQ(scripted.requests()[0].kind, platform::ScriptedFileDialogs::Request::kSave);
}

}  // namespace
}  // namespace kf::test
