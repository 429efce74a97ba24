#include "platform/message_service.h"

#include <cstdarg>
#include <cstdio>

namespace kf::platform {

void MessageService::showFormattedMessage(const char* format, ...) {
    char text[kMaxMessageChars];
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (written < 0) text[0] = '\0';  // an encoding error shows as an empty message, never garbage
    showMessage(text);
}

void StderrMessageService::showMessage(const char* text) {
    std::fprintf(stderr, "Kestrafone: %s\n", text);
}

MessageService& defaultMessageService() {
    static StderrMessageService service;
    return service;
}

}  // namespace kf::platform
