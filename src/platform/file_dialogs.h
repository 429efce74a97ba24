// File and folder dialogs. On the desktop they are separate zenity (or kdialog) processes,
// so the host's own toolkit is never touched; tests answer them from a script instead.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kf::platform {

// One entry of a dialog's type list: a name shown to the user and the extensions of its
// files without the dot ("wav"). The dialog matches them in any case: "TAKE.WAV" is a WAV
// file as much as "take.wav".
struct FileType {
    std::string name;
    std::vector<std::string> extensions;
    bool operator==(const FileType&) const = default;
};

class FileDialogs {
  public:
    virtual ~FileDialogs() = default;

    // Each returns the chosen path, or nothing when the user cancelled or no dialog could be
    // shown. They block the calling (user-interface) thread while the dialog is open.
    // startPath: a file or folder to start in; may be empty.
    virtual std::optional<std::string> openFile(const std::string& title, const std::string& startPath,
                                                const std::vector<FileType>& types) = 0;
    virtual std::optional<std::string> saveFile(const std::string& title, const std::string& startPath,
                                                const std::vector<FileType>& types) = 0;
    // The chosen folder, as the tool reports it (normally without a trailing '/').
    virtual std::optional<std::string> chooseFolder(const std::string& title,
                                                    const std::string& startFolder) = 0;
};

// The desktop's dialogs, one implementation per platform chosen by the build: zenity or
// kdialog on Linux, the common dialogs on Windows (whose save dialog asks before a file is
// replaced).
std::unique_ptr<FileDialogs> makeDesktopFileDialogs();

// The full path of an executable found on $PATH, or "" when there is none.
std::string findProgramOnPath(std::string_view name);

// Whether a graphical session is reachable: $DISPLAY or $WAYLAND_DISPLAY is set and not
// empty.
bool desktopDisplayAvailable();

// Which dialog program a desktop service drives; they differ only in their arguments.
enum class DialogTool { kZenity, kKdialog };

// The dialog program of this desktop: zenity, else kdialog; an empty path when there is
// no display or neither is installed.
struct DialogProgram {
    std::string path;
    DialogTool tool = DialogTool::kZenity;
};
DialogProgram findDialogProgram();

// What a dialog asks for.
enum class DialogKind { kOpen, kSave, kFolder };

// The argument vector (argv[0] included) that asks tool for a dialog of this kind. A save
// dialog asks before it lets the user choose an existing file; start may name the file it
// suggests, extension included, so that the name it checks is the name that gets written.
std::vector<std::string> dialogArguments(DialogTool tool, DialogKind kind, const std::string& title,
                                         const std::string& start, const std::vector<FileType>& types);

// Runs program with argv (argv[0] included) without a shell, its standard input from
// /dev/null; collects standard output. Returns the exit status, or -1 if it could not be
// started or did not exit normally.
int runProgramCapture(const std::string& program, const std::vector<std::string>& argv, std::string& output);

class DesktopFileDialogs : public FileDialogs {
  public:
    // Uses zenity, else kdialog, when a display is available; otherwise every dialog
    // answers "cancelled".
    DesktopFileDialogs();
    // Drives the given program as the given tool (tests use a stand-in script).
    DesktopFileDialogs(std::string program, DialogTool tool);

    bool available() const { return !program_.empty(); }

    std::optional<std::string> openFile(const std::string& title, const std::string& startPath,
                                        const std::vector<FileType>& types) override;
    std::optional<std::string> saveFile(const std::string& title, const std::string& startPath,
                                        const std::vector<FileType>& types) override;
    std::optional<std::string> chooseFolder(const std::string& title,
                                            const std::string& startFolder) override;

  private:
    std::optional<std::string> run(DialogKind kind, const std::string& title, const std::string& start,
                                   const std::vector<FileType>& types);

    std::string program_;
    DialogTool tool_ = DialogTool::kZenity;
};

}  // namespace kf::platform
