#include "gui/view.h"

#include <algorithm>
#include <cmath>

#include "gui/frame.h"

namespace kf::gui {

void View::setRect(const Rect& rect) {
    if (rect == rect_) return;
    setDirty();
    rect_ = rect;
    setDirty();
}

void View::setDirty() {
    if (frame_) frame_->invalidate(rect_);
}

void Control::setRange(float min, float max) {
    min_ = std::min(min, max);
    max_ = std::max(min, max);
    value_ = clamp(value_);
    default_ = clamp(default_);
}

float Control::clamp(float v) const {
    if (std::isnan(v)) return min_;
    return std::clamp(v, min_, max_);
}

bool Control::setValue(float v) {
    v = clamp(v);
    if (v == value_) return false;
    value_ = v;
    setDirty();
    if (listener_) listener_->valueChanged(*this);
    return true;
}

void Control::setValueSilently(float v) {
    v = clamp(v);
    if (v == value_) return;
    value_ = v;
    setDirty();
}

float Control::normalized() const {
    return max_ > min_ ? (value_ - min_) / (max_ - min_) : 0.0f;
}

void Control::beginEdit() {
    if (editing_) return;
    editing_ = true;
    if (listener_) listener_->beginEdit(*this);
}

void Control::endEdit() {
    if (!editing_) return;
    editing_ = false;
    if (listener_) listener_->endEdit(*this);
}

void ImageView::draw(DrawContext& context, const Rect&) {
    if (const Bitmap* b = context.bitmap(bitmapId_)) {
        context.drawBitmapFrame(*b, 0, b->height(), rect());
    }
}

}  // namespace kf::gui
