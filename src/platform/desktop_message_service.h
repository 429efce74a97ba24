// Messages shown as a desktop message box (zenity or kdialog: the product name as title,
// one OK button) when a graphical session is reachable, otherwise on standard error.
#pragma once

#include <atomic>
#include <string>

#include "platform/file_dialogs.h"
#include "platform/message_service.h"

namespace kf::platform {

class DesktopMessageService : public MessageService {
  public:
    static constexpr const char* kTitle = "Kestrafone";

    // zenity, else kdialog, when $DISPLAY or $WAYLAND_DISPLAY is set; otherwise standard
    // error.
    DesktopMessageService();
    // Drives the given program as the given tool; an empty program means standard error.
    DesktopMessageService(std::string program, DialogTool tool);
    ~DesktopMessageService() override;
    DesktopMessageService(const DesktopMessageService&) = delete;
    DesktopMessageService& operator=(const DesktopMessageService&) = delete;

    // Starts the message box and returns at once: the caller (a loader or the editor) is
    // never held up by the user. While a box from this service is still open, or another
    // thread is starting one, the message is dropped. Without a desktop, or when the box
    // cannot be started, the text goes to standard error.
    void showMessage(const char* text) override;

    bool usesDesktop() const { return !program_.empty(); }
    bool reachesUser() const override { return usesDesktop(); }
    // Whether the last box shown is still on screen.
    bool messageOpen();

  private:
    bool stillOpen();
    bool startBox(const char* text);

    std::string program_;
    DialogTool tool_ = DialogTool::kZenity;
    // Held while one thread checks for an open box and starts a new one.
    std::atomic_flag busy_;
    // Read end of a pipe whose write end only the open box holds; it reports hang-up once
    // the box is gone. -1 when no box was started.
    int openFd_ = -1;
    StderrMessageService fallback_;
};

}  // namespace kf::platform
