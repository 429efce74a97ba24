// The narrow interface between the frame and a window system. A platform window supplies
// input as event records, a back buffer to draw into, and a way to show parts of that
// buffer. A child window of the platform (X11, Win32) and an off-screen picture implement it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "gui/draw_context.h"
#include "gui/events.h"
#include "gui/geometry.h"

namespace kf::gui {

class PlatformWindow {
  public:
    virtual ~PlatformWindow() = default;
    // {0, 0, width, height}.
    virtual Rect bounds() const = 0;
    // The next pending input event, without waiting; nothing when there is none.
    virtual std::optional<Event> nextEvent() = 0;
    // Where the frame draws; kept between idles, so exposed parts are shown again from it.
    virtual Surface& backBuffer() = 0;
    // Shows `area` of the back buffer on screen (nothing to do off-screen).
    virtual void present(const Rect& area) = 0;
    // False once the window is gone under us (its parent was destroyed, the display
    // connection broke); the frame then stops drawing.
    virtual bool isAlive() const { return true; }
};

// A child window of the host's window `parent` (what the host hands over in effEditOpen) at
// its 0,0, `width` x `height`. Must be used (idled, destroyed) on the thread that opened it.
// Nothing when the parent is not a usable window (or, on X11, the display cannot be
// reached); `error` then says why. Each platform's build has its own:
// - Linux: `parent` carries an X11 window id in its value; the child has the parent's depth
//   and visual and a connection of its own to $DISPLAY.
// - Windows: `parent` is an HWND; the child's input arrives through its window procedure,
//   which the host's message loop runs, and waits for the next idle.
std::unique_ptr<PlatformWindow> openChildWindow(void* parent, int width, int height,
                                                std::string* error = nullptr);

// The same frame without a display: drawn into a picture in memory, fed by inject().
class OffscreenWindow : public PlatformWindow {
  public:
    OffscreenWindow(int width, int height);

    Rect bounds() const override { return {0, 0, surface_.width(), surface_.height()}; }
    std::optional<Event> nextEvent() override;
    Surface& backBuffer() override { return surface_; }
    void present(const Rect&) override {}

    // Queues an event for the next idle. An event with time 0 is stamped with a monotonic
    // clock, so injected presses pair into double clicks as they would on a display.
    void inject(Event e);
    bool writePng(const std::string& path) const { return surface_.writePng(path); }
    const Surface& surface() const { return surface_; }

  private:
    Surface surface_;
    std::deque<Event> queue_;
};

}  // namespace kf::gui
