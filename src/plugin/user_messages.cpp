#include "plugin/user_messages.h"

#include <utility>

namespace kf {

void UserMessages::showMessage(const char* text) {
    {
        const std::lock_guard lock(mutex_);
        if (pageShown_ && !desktop_.reachesUser()) {
            forPage_ = text ? text : "";
            return;
        }
    }
    desktop_.showMessage(text);
}

void UserMessages::setPageShown(bool shown) {
    std::string left;
    {
        const std::lock_guard lock(mutex_);
        pageShown_ = shown;
        if (!shown) left = std::exchange(forPage_, {});
    }
    if (!left.empty()) desktop_.showMessage(left.c_str());
}

std::string UserMessages::takeForPage() {
    const std::lock_guard lock(mutex_);
    return std::exchange(forPage_, {});
}

}  // namespace kf
