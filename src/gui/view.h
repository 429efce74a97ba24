// Views and controls. A View is a rectangle of the frame that draws itself and may take
// mouse input; a Control adds a normalised value with a listener. Interaction and drawing
// are separate virtuals, so a control's behaviour can be tested without looking at pixels.
#pragma once

#include <functional>

#include "gui/draw_context.h"
#include "gui/events.h"
#include "gui/geometry.h"

namespace kf::gui {

class Frame;

class View {
  public:
    explicit View(const Rect& rect) : rect_(rect) {}
    virtual ~View() = default;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    const Rect& rect() const { return rect_; }
    // Moves the view; both the old and the new place are redrawn.
    void setRect(const Rect& rect);

    // Shown while the predicate answers true (always when there is none). A hidden view is
    // neither drawn nor given events. The frame is not told when the answer changes: whoever
    // changes what it depends on invalidates the frame.
    void setVisibility(std::function<bool()> predicate) { visible_ = std::move(predicate); }
    bool isVisible() const { return !visible_ || visible_(); }

    // Draws the view; the context is already clipped to `dirty` (inside rect()), which is
    // the part that needs it.
    virtual void draw(DrawContext& context, const Rect& dirty) = 0;

    // Mouse input. Each returns whether the view handled the event. A view that handles a
    // MouseDown captures the mouse: it receives every move and the release that follows,
    // even outside its rect or the window, until all buttons are up.
    virtual bool mouseDown(const Event&) { return false; }
    virtual bool mouseMoved(const Event&) { return false; }
    virtual bool mouseUp(const Event&) { return false; }
    virtual bool wheel(const Event&) { return false; }
    // Whether a press at p belongs to the view (its rect by default).
    virtual bool hitTest(Point p) const { return rect_.contains(p); }

    // Asks the frame to redraw the view's rect at the next idle.
    void setDirty();

    Frame* frame() const { return frame_; }

  private:
    friend class Frame;
    Rect rect_;
    std::function<bool()> visible_;
    Frame* frame_ = nullptr;
};

class Control;

// Told of a control's changes. begin/end bracket a gesture (a drag, a wheel turn), so a host
// can group its automation; valueChanged comes for every change the user makes inside.
class ControlListener {
  public:
    virtual ~ControlListener() = default;
    virtual void valueChanged(Control& control) = 0;
    virtual void beginEdit(Control&) {}
    virtual void endEdit(Control&) {}
};

class Control : public View {
  public:
    Control(const Rect& rect, int tag, ControlListener* listener)
        : View(rect), tag_(tag), listener_(listener) {}

    int tag() const { return tag_; }
    ControlListener* listener() const { return listener_; }
    void setListener(ControlListener* listener) { listener_ = listener; }

    float value() const { return value_; }
    float minValue() const { return min_; }
    float maxValue() const { return max_; }
    float defaultValue() const { return default_; }
    // Range [min, max] (0..1 unless set); the value is clamped into it.
    void setRange(float min, float max);
    void setDefaultValue(float v) { default_ = v; }

    // A user's change: clamps (a NaN becomes the minimum), redraws and tells the listener
    // when the value actually changed. Returns whether it changed.
    bool setValue(float v);
    // A refresh from outside (the host, a preset): clamps and redraws when it changed, but
    // tells no one.
    void setValueSilently(float v);
    // Value as a 0..1 fraction of the range.
    float normalized() const;

    // Open and close a gesture; the listener hears each once per gesture.
    void beginEdit();
    void endEdit();
    bool isEditing() const { return editing_; }

  private:
    float clamp(float v) const;
    int tag_;
    ControlListener* listener_;
    float value_ = 0.0f;
    float min_ = 0.0f;
    float max_ = 1.0f;
    float default_ = 0.0f;
    bool editing_ = false;
};

// A still picture: bitmap `id` at the view's top-left, clipped to the view.
class ImageView : public View {
  public:
    ImageView(const Rect& rect, int bitmapId) : View(rect), bitmapId_(bitmapId) {}
    void draw(DrawContext& context, const Rect& dirty) override;
    int bitmapId() const { return bitmapId_; }

  private:
    int bitmapId_;
};

}  // namespace kf::gui
