// Every message the instance has for the user. The desktop shows it in a box of its own; a
// desktop without a dialog program leaves it on standard error, where a musician never looks,
// so while the editor's page is shown such a message waits for the page instead.
#pragma once

#include <mutex>
#include <string>

#include "platform/message_service.h"

namespace kf {

// Messages come from the host's threads and the editor's, never from the audio thread.
class UserMessages : public platform::MessageService {
  public:
    explicit UserMessages(platform::MessageService& desktop) : desktop_(desktop) {}

    void showMessage(const char* text) override;
    bool reachesUser() const override { return true; }

    // While shown, a message the desktop cannot show is kept for the page. When the page goes
    // with one still waiting, the desktop has it after all.
    void setPageShown(bool shown);
    // The latest message kept, once; "" when there is none.
    std::string takeForPage();

  private:
    platform::MessageService& desktop_;
    std::mutex mutex_;
    bool pageShown_ = false;
    std::string forPage_;
};

}  // namespace kf
