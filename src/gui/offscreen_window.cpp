#include <chrono>

#include "gui/platform_window.h"

namespace kf::gui {

OffscreenWindow::OffscreenWindow(int width, int height) : surface_(width, height) {}

void OffscreenWindow::inject(Event e) {
    if (e.time == 0) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        // Milliseconds modulo 2^32, like X server time; only differences matter. Never 0.
        e.time =
            static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
        if (e.time == 0) e.time = 1;
    }
    queue_.push_back(e);
}

std::optional<Event> OffscreenWindow::nextEvent() {
    if (queue_.empty()) return std::nullopt;
    Event e = queue_.front();
    queue_.pop_front();
    return e;
}

}  // namespace kf::gui
