#include "gui/frame.h"

namespace kf::gui {

namespace {

// More separate dirty rects than this cost more in per-rect overhead than redrawing their
// union once.
constexpr std::size_t kMaxDirtyRects = 16;

}  // namespace

Frame::Frame(std::unique_ptr<PlatformWindow> window, const BitmapCache* bitmaps)
    : window_(std::move(window)), bitmaps_(bitmaps) {
    invalidateAll();
}

Frame::~Frame() {
    if (capture_) {
        Event up;
        up.kind = Event::Kind::MouseUp;
        up.pos = lastPos_;
        for (MouseButton b : {MouseButton::Left, MouseButton::Middle, MouseButton::Right}) {
            if (buttonsHeld_ & buttonMask(b)) {
                up.button = b;
                break;
            }
        }
        View* v = capture_;
        capture_ = nullptr;
        v->mouseUp(up);
    }
    menu_.reset();
    views_.clear();
}

View& Frame::addView(std::unique_ptr<View> view) {
    view->frame_ = this;
    views_.push_back(std::move(view));
    views_.back()->setDirty();
    return *views_.back();
}

void Frame::invalidate(const Rect& area) {
    Rect r = area.intersection(bounds());
    if (r.empty()) return;
    // Overlapping rects merge, so no pixel is drawn twice in one pass.
    for (bool merged = true; merged;) {
        merged = false;
        for (auto it = dirty_.begin(); it != dirty_.end(); ++it) {
            if (it->intersects(r)) {
                r = r.united(*it);
                dirty_.erase(it);
                merged = true;
                break;
            }
        }
    }
    dirty_.push_back(r);
    if (dirty_.size() > kMaxDirtyRects) {
        Rect all;
        for (const Rect& d : dirty_) all = all.united(d);
        dirty_.assign(1, all);
    }
}

View* Frame::topViewAt(Point p) const {
    for (auto it = views_.rbegin(); it != views_.rend(); ++it) {
        if ((*it)->isVisible() && (*it)->hitTest(p)) return it->get();
    }
    return nullptr;
}

void Frame::dispatch(Event e) {
    using Kind = Event::Kind;
    e.buttons = buttonsHeld_;
    switch (e.kind) {
        case Kind::Expose:
            invalidate(e.area);
            return;
        case Kind::Enter:
        case Kind::Leave:
            return;
        case Kind::MouseDown: {
            lastPos_ = e.pos;
            const unsigned bit = buttonMask(e.button);
            if (buttonsHeld_ & bit) {
                // We never saw this button's release (the window lost it, or a script
                // pressed twice): end the old press before starting anew.
                if (capture_) {
                    View* v = capture_;
                    capture_ = nullptr;
                    Event up = e;
                    up.kind = Kind::MouseUp;
                    v->mouseUp(up);
                }
                buttonsHeld_ = 0;
                menuCapture_ = false;
                e.buttons = 0;
            }
            const bool first = buttonsHeld_ == 0;
            buttonsHeld_ |= bit;
            e.clickCount = clicks_.press(e.button, e.pos, e.time);
            if (!first) {
                // Another button while one is held: it belongs to whoever took the first.
                if (menuCapture_ && menu_) {
                    sendToMenu(e);
                } else if (capture_) {
                    capture_->mouseDown(e);
                }
                return;
            }
            if (menu_) {
                menuCapture_ = true;
                sendToMenu(e);
                return;
            }
            for (auto it = views_.rbegin(); it != views_.rend(); ++it) {
                View& v = **it;
                if (v.isVisible() && v.hitTest(e.pos) && v.mouseDown(e)) {
                    capture_ = &v;
                    break;
                }
            }
            return;
        }
        case Kind::MouseUp: {
            lastPos_ = e.pos;
            buttonsHeld_ &= ~buttonMask(e.button);
            e.buttons = buttonsHeld_;
            const bool last = buttonsHeld_ == 0;
            if (menuCapture_) {
                if (last) menuCapture_ = false;
                if (menu_) {
                    sendToMenu(e);
                }
                return;
            }
            // The release of the press that opened a menu goes to the view that took the
            // press, never to the menu: the menu stays open for a further click.
            if (View* v = capture_) {
                if (last) capture_ = nullptr;
                v->mouseUp(e);
            }
            return;
        }
        case Kind::MouseMove:
            lastPos_ = e.pos;
            // An open menu takes the moves even from the view whose press opened it, so
            // the pointer highlights entries instead of dragging the control underneath.
            if (menu_) {
                sendToMenu(e);
            } else if (capture_ && !menuCapture_) {
                capture_->mouseMoved(e);
            } else if (View* v = topViewAt(e.pos)) {
                v->mouseMoved(e);
            }
            return;
        case Kind::Wheel:
            if (menu_) {
                sendToMenu(e);
                return;
            }
            for (auto it = views_.rbegin(); it != views_.rend(); ++it) {
                View& v = **it;
                if (v.isVisible() && v.hitTest(e.pos) && v.wheel(e)) return;
            }
            return;
    }
}

void Frame::sendToMenu(const Event& e) {
    const Rect before = menu_->area();  // the menu may move, shrink or go
    const auto outcome = menu_->handle(e);
    invalidate(before);
    finishMenu(outcome);
}

void Frame::finishMenu(PopupMenu::Outcome outcome) {
    if (!menu_) return;
    invalidate(menu_->area());
    if (outcome == PopupMenu::Outcome::Open) return;
    MenuPath chosen = outcome == PopupMenu::Outcome::Chosen ? menu_->chosen() : MenuPath{};
    MenuCallback done = std::move(menuDone_);
    menuDone_ = nullptr;
    menu_.reset();
    // Last, with the frame settled: the callback may open another menu.
    if (done) done(chosen);
}

void Frame::popupMenu(Menu menu, Point at, MenuCallback done) {
    closeMenu();
    menu_ = std::make_unique<PopupMenu>(std::move(menu), at, bounds(), menuStyle_);
    menuDone_ = std::move(done);
    invalidate(menu_->area());
}

void Frame::closeMenu() {
    finishMenu(PopupMenu::Outcome::Dismissed);
}

void Frame::drawRect(DrawContext& context, const Rect& r) {
    context.pushClip(r);
    context.fillRect(r, backgroundColor_);
    context.drawBitmap(backgroundId_, {0, 0});
    for (const auto& view : views_) {
        const Rect part = view->rect().intersection(r);
        if (part.empty() || !view->isVisible()) continue;
        context.pushClip(part);
        view->draw(context, part);
        context.popClip();
    }
    if (menu_ && menu_->area().intersects(r)) menu_->draw(context);
    context.popClip();
}

void Frame::redraw() {
    if (dirty_.empty() || !window_->isAlive()) return;
    std::vector<Rect> rects;
    rects.swap(dirty_);
    {
        DrawContext context(window_->backBuffer(), bitmaps_);
        for (const Rect& r : rects) drawRect(context, r);
    }
    for (const Rect& r : rects) window_->present(r);
}

void Frame::idle() {
    while (auto e = window_->nextEvent()) dispatch(*e);
    if (idleHook_) idleHook_();
    redraw();
}

}  // namespace kf::gui
