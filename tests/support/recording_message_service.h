// A message service that keeps every message in order instead of showing it, so tests can
// check what the user would have been told.
#pragma once

#include <string>
#include <vector>

#include "platform/message_service.h"

namespace kf::platform {

class RecordingMessageService : public MessageService {
  public:
    void showMessage(const char* text) override { messages_.emplace_back(text); }
    const std::vector<std::string>& messages() const { return messages_; }
    void clear() { messages_.clear(); }

  private:
    std::vector<std::string> messages_;
};

}  // namespace kf::platform
