// File and folder dialogs that do not block the caller. A plug-in editor runs on the host's
// user-interface thread: a dialog that waited there would freeze the host's whole window. So a
// request only starts the dialog, and poll(), called from every editor idle, hands the answer to
// the request's callback once the user has made a choice.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_dialogs.h"

namespace kf::platform {

// What became of a request: whoever asked tells the user why no dialog appeared.
enum class DialogStart {
    kOpened,
    kBusy,         // another dialog is still open: one at a time, as a modal dialog would be
    kNoProgram,    // neither zenity nor kdialog is installed (or there is no display)
    kCouldNotRun,  // the dialog program could not be started
};

class AsyncFileDialogs {
  public:
    // Receives the chosen path, or nothing when the user cancelled or the dialog failed.
    using Result = std::function<void(std::optional<std::string>)>;

    virtual ~AsyncFileDialogs() = default;

    // Starts a dialog. Unless it answers kOpened the callback is never called; otherwise the
    // callback is called exactly once, from a later poll(), unless cancel() comes first.
    virtual DialogStart request(DialogKind kind, const std::string& title, const std::string& start,
                                const std::vector<FileType>& types, Result done) = 0;
    // Never waits: looks whether the open dialog has ended and, if so, calls its callback.
    virtual void poll() = 0;
    // Ends the open dialog without calling its callback (the editor that asked is closing).
    virtual void cancel() = 0;
    virtual bool busy() const = 0;
};

// The desktop's dialogs run without blocking the caller; one implementation per platform,
// chosen by the build.
std::unique_ptr<AsyncFileDialogs> makeDesktopAsyncFileDialogs();

// Runs zenity or kdialog as a child process and watches its standard output without waiting.
class SpawnedFileDialogs : public AsyncFileDialogs {
  public:
    // The dialog program of this desktop; with none every request is refused.
    SpawnedFileDialogs();
    // Drives the given program as the given tool (tests use a stand-in script).
    SpawnedFileDialogs(std::string program, DialogTool tool);
    ~SpawnedFileDialogs() override;
    SpawnedFileDialogs(const SpawnedFileDialogs&) = delete;
    SpawnedFileDialogs& operator=(const SpawnedFileDialogs&) = delete;

    DialogStart request(DialogKind kind, const std::string& title, const std::string& start,
                        const std::vector<FileType>& types, Result done) override;
    void poll() override;
    // Kills the dialog process and reaps it, so no zombie outlives the editor.
    void cancel() override;
    bool busy() const override { return child_ > 0; }

  private:
    // Reads what the pipe holds now; true at end of file.
    bool drain();
    void finish(std::optional<std::string> answer);

    std::string program_;
    DialogTool tool_ = DialogTool::kZenity;
    pid_t child_ = -1;
    int pipe_ = -1;
    bool endOfOutput_ = false;
    std::string output_;
    Result done_;
};

// Answers from a blocking FileDialogs at the next poll(): tests drive the editor with scripted
// dialogs this way and still see the answer arrive as it would from a real dialog.
class PolledFileDialogs : public AsyncFileDialogs {
  public:
    explicit PolledFileDialogs(FileDialogs& dialogs) : dialogs_(dialogs) {}

    DialogStart request(DialogKind kind, const std::string& title, const std::string& start,
                        const std::vector<FileType>& types, Result done) override;
    void poll() override;
    void cancel() override { done_ = nullptr; }
    bool busy() const override { return static_cast<bool>(done_); }

  private:
    FileDialogs& dialogs_;
    DialogKind kind_ = DialogKind::kOpen;
    std::string title_, start_;
    std::vector<FileType> types_;
    Result done_;
};

}  // namespace kf::platform
