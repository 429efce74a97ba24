// Messages the user must see (a modal box with one OK button on the desktop). The audio
// code only ever reaches this on a programming error, so the interface is kept tiny and
// every implementation may block the caller.
#pragma once

#include <cstddef>
#include <memory>

namespace kf::platform {

class MessageService {
  public:
    // Longest message text, including the terminating zero; longer texts are cut.
    static constexpr std::size_t kMaxMessageChars = 8192;

    virtual ~MessageService() = default;

    // Shows text to the user; may block until the user dismisses it.
    virtual void showMessage(const char* text) = 0;
    // Whether what this service shows reaches the user on its own (a box on the desktop);
    // false for one that only writes where a musician never looks (standard error).
    virtual bool reachesUser() const { return true; }

    // printf-style convenience: formats into a bounded buffer, then shows it.
    void showFormattedMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

// Writes each message as one line to standard error; the fallback when no desktop is
// available and the default for code that was handed no service.
class StderrMessageService : public MessageService {
  public:
    void showMessage(const char* text) override;
    bool reachesUser() const override { return false; }
};

// The process-wide standard-error service, used wherever a null service is passed.
MessageService& defaultMessageService();

// The desktop's message boxes (the product name as title, one OK button), which never hold
// up the caller: a box shown while another from the same service is open is dropped. One
// implementation per platform, chosen by the build.
std::unique_ptr<MessageService> makeDesktopMessageService();

}  // namespace kf::platform
