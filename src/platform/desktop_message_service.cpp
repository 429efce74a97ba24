#include "platform/desktop_message_service.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

extern char** environ;

namespace kf::platform {

DesktopMessageService::DesktopMessageService() {
    const DialogProgram found = findDialogProgram();
    program_ = found.path;
    tool_ = found.tool;
}

DesktopMessageService::DesktopMessageService(std::string program, DialogTool tool)
    : program_(std::move(program)), tool_(tool) {}

DesktopMessageService::~DesktopMessageService() {
    // An open box outlives us on its own; it was never our child.
    if (openFd_ >= 0) ::close(openFd_);
}

bool DesktopMessageService::stillOpen() {
    if (openFd_ < 0) return false;
    pollfd p{openFd_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) return true;
    // Hang-up (or an error, which we treat alike): the box has exited.
    ::close(openFd_);
    openFd_ = -1;
    return false;
}

bool DesktopMessageService::messageOpen() {
    if (busy_.test_and_set(std::memory_order_acquire)) return true;
    const bool open = stillOpen();
    busy_.clear(std::memory_order_release);
    return open;
}

bool DesktopMessageService::startBox(const char* text) {
    // Bounded like formatted messages, which also keeps the argument list short.
    std::string message(text, strnlen(text, kMaxMessageChars - 1));
    std::vector<std::string> args;
    if (tool_ == DialogTool::kZenity)
        args = {"--info", std::string("--title=") + kTitle, "--no-markup", "--text=" + message};
    else
        args = {"--title", kTitle, "--msgbox", message};

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;

    // A short-lived shell starts the box in the background and exits, so the box is never
    // our child (no zombie, nothing to wait for). The box inherits the pipe's write end as
    // descriptor 3; the read end sees hang-up when the box exits.
    std::vector<std::string> argv = {"/bin/sh", "-c", "\"$0\" \"$@\" </dev/null >/dev/null 2>&1 &", program_};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);
    pid_t shell = 0;
    const int spawned = posix_spawn(&shell, "/bin/sh", &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return false;
    }
    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(shell, &status, 0);
    } while (waited < 0 && errno == EINTR);
    const bool shellOk = (waited < 0 && errno == ECHILD) || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (!shellOk) {
        ::close(pipeFds[0]);
        return false;
    }
    openFd_ = pipeFds[0];
    return true;
}

std::unique_ptr<MessageService> makeDesktopMessageService() {
    return std::make_unique<DesktopMessageService>();
}

void DesktopMessageService::showMessage(const char* text) {
    if (!text) text = "";
    if (busy_.test_and_set(std::memory_order_acquire)) return;  // another message is being started
    if (!stillOpen()) {
        if (program_.empty() || !startBox(text)) fallback_.showMessage(text);
    }
    busy_.clear(std::memory_order_release);
}

}  // namespace kf::platform
