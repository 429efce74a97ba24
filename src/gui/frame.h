// The root of a window's views. The frame owns its platform window and views, draws the
// background and the views (later views on top) into the back buffer where something is
// dirty, routes mouse events (with capture), and holds the pop-up menu layer. Everything
// happens in idle(), on the thread that created the frame: the toolkit has no threads and
// no timers of its own.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "gui/bitmap_cache.h"
#include "gui/draw_context.h"
#include "gui/events.h"
#include "gui/geometry.h"
#include "gui/platform_window.h"
#include "gui/popup_menu.h"
#include "gui/view.h"

namespace kf::gui {

class Frame {
  public:
    // `bitmaps` (may be null) serves the background and the views' bitmaps; whoever passes
    // it holds a use of it for the frame's life. The whole window starts dirty.
    Frame(std::unique_ptr<PlatformWindow> window, const BitmapCache* bitmaps);
    // A press still held ends as a release at the last pointer position (so a gesture that
    // began gets its end) before the views go; an open menu closes without its callback.
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    Rect bounds() const { return window_->bounds(); }
    PlatformWindow& window() { return *window_; }
    bool isAlive() const { return window_->isAlive(); }

    // Painted under everything: the colour first, then the bitmap at 0,0.
    void setBackground(int bitmapId) {
        backgroundId_ = bitmapId;
        invalidateAll();
    }
    void setBackgroundColor(Color c) {
        backgroundColor_ = c;
        invalidateAll();
    }

    // Adds a view on top of those added before; the frame owns it.
    template <class V>
    V& add(std::unique_ptr<V> view) {
        V& v = *view;
        addView(std::move(view));
        return v;
    }
    View& addView(std::unique_ptr<View> view);
    const std::vector<std::unique_ptr<View>>& views() const { return views_; }

    void invalidate(const Rect& r);
    void invalidateAll() { invalidate(bounds()); }
    // The parts waiting to be redrawn (for checks); empty after idle().
    const std::vector<Rect>& dirtyRegion() const { return dirty_; }

    // Runs once between dispatching the events and drawing, each idle: the place to pick up
    // changes made elsewhere (host automation, a finished dialog).
    void setIdleHook(std::function<void()> hook) { idleHook_ = std::move(hook); }
    // Events -> dispatch -> idle hook -> redraw the dirty parts -> present them.
    void idle();
    // Routes one event at once (idle() does this for every pending event).
    void dispatch(Event e);
    // Redraws the dirty parts now, without reading events.
    void redraw();

    // Opens `menu` with its top-left at `at` (shifted to stay inside the window); `done`
    // receives the chosen path, or an empty one when the menu is dismissed. Opening from a
    // view's mouseDown makes the press's release not count as a click on the menu. A menu
    // already open is dismissed first.
    void popupMenu(Menu menu, Point at, MenuCallback done);
    bool isMenuOpen() const { return menu_ != nullptr; }
    // Dismisses an open menu (its callback gets an empty path).
    void closeMenu();
    const PopupMenu* menu() const { return menu_.get(); }
    void setMenuStyle(const MenuStyle& style) { menuStyle_ = style; }

    View* capturingView() const { return capture_; }

  private:
    View* topViewAt(Point p) const;
    // Hands an event to the open menu and repaints where it was.
    void sendToMenu(const Event& e);
    void finishMenu(PopupMenu::Outcome outcome);
    void drawRect(DrawContext& context, const Rect& r);

    std::unique_ptr<PlatformWindow> window_;
    const BitmapCache* bitmaps_;
    std::vector<std::unique_ptr<View>> views_;
    int backgroundId_ = -1;
    Color backgroundColor_ = Color::rgb(0x000000);
    std::vector<Rect> dirty_;
    std::function<void()> idleHook_;

    ClickCounter clicks_;
    unsigned buttonsHeld_ = 0;  // bit per MouseButton
    View* capture_ = nullptr;
    bool menuCapture_ = false;  // the held press belongs to the menu layer
    Point lastPos_;

    std::unique_ptr<PopupMenu> menu_;
    MenuCallback menuDone_;
    MenuStyle menuStyle_;
};

}  // namespace kf::gui
