#include "platform/async_file_dialogs.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

extern char** environ;

namespace kf::platform {

namespace {

std::optional<std::string> chosenPath(std::string output) {
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    if (output.empty()) return std::nullopt;
    return output;
}

}  // namespace

std::unique_ptr<AsyncFileDialogs> makeDesktopAsyncFileDialogs() {
    return std::make_unique<SpawnedFileDialogs>();
}

SpawnedFileDialogs::SpawnedFileDialogs() {
    const DialogProgram found = findDialogProgram();
    program_ = found.path;
    tool_ = found.tool;
}

SpawnedFileDialogs::SpawnedFileDialogs(std::string program, DialogTool tool)
    : program_(std::move(program)), tool_(tool) {}

SpawnedFileDialogs::~SpawnedFileDialogs() {
    cancel();
}

DialogStart SpawnedFileDialogs::request(DialogKind kind, const std::string& title, const std::string& start,
                                        const std::vector<FileType>& types, Result done) {
    if (busy()) return DialogStart::kBusy;
    if (program_.empty()) return DialogStart::kNoProgram;
    int fds[2];
    if (!done || ::pipe2(fds, O_CLOEXEC) != 0) return DialogStart::kCouldNotRun;
    // Only our end may be non-blocking: the flag belongs to the open file, and the dialog
    // program's writes must not fail with EAGAIN.
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    std::vector<std::string> args = dialogArguments(tool_, kind, title, start, types);
    std::vector<char*> rawArgs;
    rawArgs.reserve(args.size() + 1);
    for (std::string& a : args) rawArgs.push_back(a.data());
    rawArgs.push_back(nullptr);

    pid_t child = -1;
    const int spawned = posix_spawn(&child, program_.c_str(), &actions, nullptr, rawArgs.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return DialogStart::kCouldNotRun;
    }
    child_ = child;
    pipe_ = fds[0];
    endOfOutput_ = false;
    output_.clear();
    done_ = std::move(done);
    return DialogStart::kOpened;
}

bool SpawnedFileDialogs::drain() {
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(pipe_, buffer, sizeof buffer);
        if (n > 0) {
            output_.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return true;
        } else if (errno != EINTR) {
            // EAGAIN: nothing more yet. Any other error: the pipe is of no further use.
            return errno != EAGAIN && errno != EWOULDBLOCK;
        }
    }
}

void SpawnedFileDialogs::poll() {
    if (!busy()) return;
    if (!endOfOutput_) endOfOutput_ = drain();
    int status = 0;
    const pid_t waited = ::waitpid(child_, &status, WNOHANG);
    if (waited == child_) {
        if (!endOfOutput_) drain();  // what the program wrote just before it ended
        const bool confirmed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        return finish(confirmed ? chosenPath(std::move(output_)) : std::nullopt);
    }
    // A host that ignores SIGCHLD has its children reaped for it and the status is lost:
    // the end of the output then marks the end of the dialog, and an answer on it a choice.
    if (waited < 0 && errno == ECHILD && endOfOutput_) finish(chosenPath(std::move(output_)));
}

void SpawnedFileDialogs::finish(std::optional<std::string> answer) {
    ::close(pipe_);
    pipe_ = -1;
    child_ = -1;
    // Cleared before the call, so the callback may ask for the next dialog.
    Result done = std::move(done_);
    done_ = nullptr;
    done(std::move(answer));
}

void SpawnedFileDialogs::cancel() {
    if (!busy()) return;
    ::kill(child_, SIGKILL);
    while (::waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
    }
    ::close(pipe_);
    pipe_ = -1;
    child_ = -1;
    done_ = nullptr;
}

}  // namespace kf::platform
