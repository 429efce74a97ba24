#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/pointer_input.h"

extern char** environ;

namespace kf::host {
namespace {

const char* modifierKey(unsigned bit) {
    return bit == kShift ? "shift" : bit == kControl ? "ctrl" : "alt";
}

// The xdotool commands of the actions, chained in one call.
std::vector<std::string> commands(std::uintptr_t window, const std::vector<PointerAction>& actions) {
    using Kind = PointerAction::Kind;
    std::vector<std::string> args;
    for (const PointerAction& a : actions) {
        switch (a.kind) {
            case Kind::MoveTo:
                args.insert(args.end(), {"mousemove", "--window", std::to_string(window), std::to_string(a.x),
                                         std::to_string(a.y)});
                break;
            case Kind::Press:
            case Kind::Release:
                args.insert(args.end(), {a.kind == Kind::Press ? "mousedown" : "mouseup",
                                         std::to_string(static_cast<int>(a.button))});
                break;
            case Kind::KeyDown:
            case Kind::KeyUp:
                args.insert(args.end(),
                            {a.kind == Kind::KeyDown ? "keydown" : "keyup", modifierKey(a.modifier)});
                break;
            case Kind::Wheel:
                // X buttons 4 and 5 are the wheel's notches up and down.
                args.insert(args.end(), {"click", "--repeat", std::to_string(std::abs(a.notches)), "--delay",
                                         "20", a.notches > 0 ? "4" : "5"});
                break;
        }
    }
    return args;
}

}  // namespace

// Runs xdotool and waits for it.
std::optional<PointerFailure> sendPointer(std::uintptr_t window, const std::vector<PointerAction>& actions,
                                          const std::string& displayName) {
    const std::vector<std::string> args = commands(window, actions);
    std::vector<std::string> words = {"xdotool"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e)
        if (displayName.empty() || std::strncmp(*e, "DISPLAY=", 8) != 0) envText.emplace_back(*e);
    if (!displayName.empty()) envText.push_back("DISPLAY=" + displayName);
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t fileActions;
    posix_spawn_file_actions_init(&fileActions);
    posix_spawn_file_actions_addopen(&fileActions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "xdotool", &fileActions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fileActions);
    if (spawned != 0)
        return PointerFailure{true, spawned == ENOENT
                                        ? "xdotool is not installed (Debian package xdotool)"
                                        : std::string("cannot run xdotool: ") + std::strerror(spawned)};
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string command = "xdotool";
        for (const auto& a : args) command += " " + a;
        return PointerFailure{false, command + " failed"};
    }
    return std::nullopt;
}

}  // namespace kf::host
