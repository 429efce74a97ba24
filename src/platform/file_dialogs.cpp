#include "platform/file_dialogs.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace kf::platform {

std::string findProgramOnPath(std::string_view name) {
    if (name.empty()) return {};
    const char* pathEnv = std::getenv("PATH");
    const std::string_view path = pathEnv ? pathEnv : "/usr/local/bin:/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find(':', begin);
        if (end == std::string_view::npos) end = path.size();
        // An empty entry means the current folder.
        const std::string_view folder = end > begin ? path.substr(begin, end - begin) : std::string_view(".");
        std::string candidate(folder);
        candidate.append("/").append(name);
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        begin = end + 1;
    }
    return {};
}

bool desktopDisplayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

int runProgramCapture(const std::string& program, const std::vector<std::string>& argv, std::string& output) {
    output.clear();
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    // The tools chatter about their toolkit on standard error; the host's log is no place
    // for that.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    std::vector<std::string> args = argv;
    std::vector<char*> rawArgs;
    rawArgs.reserve(args.size() + 1);
    for (std::string& a : args) rawArgs.push_back(a.data());
    rawArgs.push_back(nullptr);

    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, rawArgs.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return -1;
    }

    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n > 0) {
            output.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(pipeFds[0]);

    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        // A host that ignores SIGCHLD has its children reaped for it, so the status is
        // lost; an answer on standard output is then the best sign of a confirmed dialog.
        return errno == ECHILD ? (output.empty() ? 1 : 0) : -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// --- desktop dialogs -------------------------------------------------------------------------

DialogProgram findDialogProgram() {
    if (!desktopDisplayAvailable()) return {};
    if (std::string zenity = findProgramOnPath("zenity"); !zenity.empty())
        return {zenity, DialogTool::kZenity};
    return {findProgramOnPath("kdialog"), DialogTool::kKdialog};
}

std::unique_ptr<FileDialogs> makeDesktopFileDialogs() {
    return std::make_unique<DesktopFileDialogs>();
}

DesktopFileDialogs::DesktopFileDialogs() {
    const DialogProgram found = findDialogProgram();
    program_ = found.path;
    tool_ = found.tool;
}

DesktopFileDialogs::DesktopFileDialogs(std::string program, DialogTool tool)
    : program_(std::move(program)), tool_(tool) {}

namespace {

// "*.[wW][aA][vV]": a glob both dialog programs understand that matches the extension in any
// case, as file names on disk come.
std::string anyCasePattern(std::string_view extension) {
    std::string pattern = "*.";
    for (const char c : extension) {
        const auto lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const auto upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (lower == upper) {
            pattern += c;
        } else {
            pattern += '[';
            pattern += lower;
            pattern += upper;
            pattern += ']';
        }
    }
    return pattern;
}

// Every extension of a type in one space-separated list: one filter shows all of its files.
std::string patternsOf(const FileType& type) {
    std::string patterns;
    for (const std::string& extension : type.extensions) {
        if (!patterns.empty()) patterns += ' ';
        patterns += anyCasePattern(extension);
    }
    return patterns;
}

}  // namespace

std::vector<std::string> dialogArguments(DialogTool tool, DialogKind kind, const std::string& title,
                                         const std::string& start, const std::vector<FileType>& types) {
    using Kind = DialogKind;
    std::vector<std::string> args;
    if (tool == DialogTool::kZenity) {
        args = {"zenity", "--file-selection", "--title=" + title};
        // zenity replaces an existing file without a word unless told to ask.
        if (kind == Kind::kSave) args.insert(args.end(), {"--save", "--confirm-overwrite"});
        if (kind == Kind::kFolder) args.emplace_back("--directory");
        if (!start.empty()) {
            // zenity opens a folder only when the name ends in a separator; otherwise it
            // would open the parent with the folder selected.
            std::string name = start;
            std::error_code ec;
            if (name.back() != '/' && (kind == Kind::kFolder || std::filesystem::is_directory(name, ec)))
                name += '/';
            args.push_back("--filename=" + name);
        }
        for (const FileType& type : types)
            args.push_back("--file-filter=" + type.name + " | " + patternsOf(type));
        return args;
    }
    // kdialog takes no option for it: whether its save dialog asks before replacing a file is
    // left to the desktop's own file dialog.
    args = {"kdialog", "--title", title};
    args.emplace_back(kind == Kind::kOpen   ? "--getopenfilename"
                      : kind == Kind::kSave ? "--getsavefilename"
                                            : "--getexistingdirectory");
    std::string startDir = start;
    if (startDir.empty()) {
        const char* home = std::getenv("HOME");
        startDir = home && *home ? home : "/";
    }
    args.push_back(startDir);
    if (kind != Kind::kFolder && !types.empty()) {
        std::string filter;
        for (const FileType& type : types) {
            if (!filter.empty()) filter += '\n';
            filter += patternsOf(type) + "|" + type.name;
        }
        args.push_back(filter);
    }
    return args;
}

std::optional<std::string> DesktopFileDialogs::run(DialogKind kind, const std::string& title,
                                                   const std::string& start,
                                                   const std::vector<FileType>& types) {
    if (program_.empty()) return std::nullopt;
    std::string output;
    if (runProgramCapture(program_, dialogArguments(tool_, kind, title, start, types), output) != 0)
        return std::nullopt;
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    if (output.empty()) return std::nullopt;
    return output;
}

std::optional<std::string> DesktopFileDialogs::openFile(const std::string& title,
                                                        const std::string& startPath,
                                                        const std::vector<FileType>& types) {
    return run(DialogKind::kOpen, title, startPath, types);
}

std::optional<std::string> DesktopFileDialogs::saveFile(const std::string& title,
                                                        const std::string& startPath,
                                                        const std::vector<FileType>& types) {
    return run(DialogKind::kSave, title, startPath, types);
}

std::optional<std::string> DesktopFileDialogs::chooseFolder(const std::string& title,
                                                            const std::string& startFolder) {
    return run(DialogKind::kFolder, title, startFolder, {});
}

}  // namespace kf::platform
