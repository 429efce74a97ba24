#include "editor/controls.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "artwork/artwork.h"
#include "common/numeric.h"
#include "common/parameter_table.h"
#include "gui/frame.h"
#include "gui/popup_menu.h"

namespace kf::editor {

namespace {

const gui::Color kText = gui::Color::rgb(0xe6e6e6);

// The panel's menu faces: a dark well with a lit lower edge, the choice in small light
// letters on the left, an amber arrow on the right.
void drawMenuFace(gui::DrawContext& context, const gui::Rect& r, const char* choice) {
    constexpr double kFaceTextSize = 9.0;
    context.fillRect(r, gui::Color::rgb(0x131417));
    context.fillRect({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, gui::Color::rgb(0x1d1f23));
    context.fillRect({r.left + 1, r.bottom - 1, r.right - 1, r.bottom}, gui::Color::rgb(0x3a3e45));
    context.setTextSize(kFaceTextSize);
    context.drawText(choice, {r.left + 5, r.top, r.right - 14, r.bottom}, gui::Align::Left,
                     gui::Color::rgb(0xc9ccd1));
    context.setTextSize(gui::kFontSize);
    const float ax = static_cast<float>(r.right) - 8.0f, ay = static_cast<float>(r.top + r.bottom) / 2.0f;
    const gui::PointF arrow[] = {{ax - 3.0f, ay - 1.5f}, {ax + 3.0f, ay - 1.5f}, {ax, ay + 2.0f}};
    context.fillPolygon(arrow, gui::Color::rgb(0xf0a020));
}

// Frame `frame` of a strip, or nothing when the control has no bitmap.
void drawFrame(gui::DrawContext& context, int bitmap, int frame, const gui::Rect& r) {
    if (bitmap > 0) context.drawBitmapFrame(bitmap, frame, artwork::frameHeight(bitmap), r);
}

}  // namespace

int stripFrame(float v, int frames) {
    if (frames <= 1) return 0;
    v = clampUnit(v);
    return std::clamp(static_cast<int>(static_cast<float>(frames - 1) * v), 0, frames - 1);
}

const char* menuEntry(int32_t tag, int index) {
    // The same words as the faces' bitmaps, so the list names what the face will show.
    static constexpr const char* kCarrier[] = {"input A", "input B", "A | B stereo", "sampler"};
    static constexpr const char* kModulator[] = {"input A", "input B", "synth"};
    static constexpr const char* kEffects[] = {"none", "reverb", "delay", "phaser", "retro"};
    static constexpr const char* kStage1[] = {"stage 1 active", "stage 1 hold"};
    static constexpr const char* kStage2[] = {"stage 2 active", "stage 2 hold"};
    static constexpr const char* kSynth[] = {"synth off", "synth on"};
    static constexpr const char* kBank[] = {"classic", "articulate"};
    auto pick = [index](const auto& list) -> const char* {
        return index >= 0 && index < static_cast<int>(std::size(list)) ? list[index] : "";
    };
    switch (tag) {
        case tag::carrier_mode:
            return pick(kCarrier);
        case tag::modulator_mode:
            return pick(kModulator);
        case tag::effects_choice:
            return pick(kEffects);
        case tag::in_a:
            return pick(kStage1);
        case tag::in_b:
            return pick(kStage2);
        case tag::synthoff:
            return pick(kSynth);
        case tag::articulate:
            return pick(kBank);
        default:
            return "";
    }
}

// ---- Knob ----------------------------------------------------------------------------

Knob::Knob(const LayoutRow& row, int frames, gui::ControlListener* listener,
           std::function<float(float)> shown)
    : Control(row.rect, row.tag, listener), bitmap_(row.bitmap), frames_(frames), shown_(std::move(shown)) {}

int Knob::frameIndex() const {
    return stripFrame(shown_ ? shown_(value()) : value(), frames_);
}

bool Knob::mouseDown(const gui::Event& e) {
    // The right button opens the learn menu; it never changes the value.
    if (e.button == gui::MouseButton::Right) {
        if (learn_ && frame())
            frame()->popupMenu(learn_->knobMenu(tag()), e.pos,
                               [this](const gui::MenuPath& chosen) { learn_->knobChosen(tag(), chosen); });
        return true;
    }
    if (e.button != gui::MouseButton::Left) return false;
    beginEdit();
    if ((e.modifiers & gui::kControl) != 0 || e.clickCount >= 2) {
        setValue(defaultValue());
        endEdit();
        return true;
    }
    dragging_ = true;
    lastY_ = e.pos.y;
    return true;
}

bool Knob::mouseMoved(const gui::Event& e) {
    if (!dragging_) return false;
    const int dy = e.pos.y - lastY_;  // downward positive
    lastY_ = e.pos.y;
    const float perPixel = (e.modifiers & gui::kShift) != 0 ? kFineDragPerPixel : kDragPerPixel;
    setValue(value() - perPixel * sensitivity_ * static_cast<float>(dy));
    return true;
}

bool Knob::mouseUp(const gui::Event&) {
    if (!dragging_) return true;
    dragging_ = false;
    if (springBack_) setValue(defaultValue());
    endEdit();
    return true;
}

bool Knob::wheel(const gui::Event& e) {
    if (e.wheelY == 0) return false;
    // Each step is a gesture of its own: the host sees begin, the change, end.
    beginEdit();
    setValue(value() + kWheelPerNotch * static_cast<float>(e.wheelY));
    endEdit();
    return true;
}

void Knob::draw(gui::DrawContext& context, const gui::Rect&) {
    drawFrame(context, bitmap_, frameIndex(), rect());
}

// ---- Button --------------------------------------------------------------------------

Button::Button(const LayoutRow& row, gui::ControlListener* listener)
    : Control(row.rect, row.tag, listener), bitmap_(row.bitmap), count_(std::max(row.count, 1)) {
    setRange(0.0f, static_cast<float>(std::max(count_ - 1, 1)));
}

bool Button::mouseDown(const gui::Event& e) {
    if (e.button != gui::MouseButton::Left) return false;
    beginEdit();
    if (count_ == 1) {
        pressed_ = true;
        setValue(1.0f);
        return true;
    }
    const int state = static_cast<int>(value());
    setValue(static_cast<float>((state + 1) % count_));
    endEdit();
    return true;
}

bool Button::mouseUp(const gui::Event&) {
    if (!pressed_) return true;
    pressed_ = false;
    setValue(0.0f);
    endEdit();
    return true;
}

void Button::draw(gui::DrawContext& context, const gui::Rect&) {
    const int frames = artwork::frameCount(bitmap_);
    drawFrame(context, bitmap_, std::clamp(static_cast<int>(value()), 0, frames - 1), rect());
}

// ---- OptionMenu ----------------------------------------------------------------------

OptionMenu::OptionMenu(const LayoutRow& row, gui::ControlListener* listener)
    : Control(row.rect, row.tag, listener), bitmap_(row.bitmap), count_(std::max(row.count, 1)) {
    setRange(0.0f, static_cast<float>(count_ - 1));
}

bool OptionMenu::mouseDown(const gui::Event& e) {
    if (e.button != gui::MouseButton::Left || !frame()) return false;
    gui::Menu menu;
    const int current = static_cast<int>(value());
    for (int i = 0; i < count_; ++i) menu.addEntry(menuEntry(tag(), i), true, i == current);
    const int section = learn_ ? learn_->appendSection(menu) : -1;
    frame()->popupMenu(std::move(menu), {rect().left, rect().bottom},
                       [this, section](const gui::MenuPath& chosen) {
                           if (chosen.empty()) return;
                           if (chosen.front() == section)
                               return learn_->sectionChosen(tag(), {chosen.begin() + 1, chosen.end()});
                           if (chosen.front() >= count_) return;
                           beginEdit();
                           setValue(static_cast<float>(chosen.front()));
                           endEdit();
                       });
    return true;
}

void OptionMenu::draw(gui::DrawContext& context, const gui::Rect&) {
    const int index = std::clamp(static_cast<int>(value()), 0, count_ - 1);
    if (bitmap_ > 0) {
        drawFrame(context, bitmap_, std::min(index, artwork::frameCount(bitmap_) - 1), rect());
        return;
    }
    drawMenuFace(context, rect(), menuEntry(tag(), index));
}

// ---- Readout, Led --------------------------------------------------------------------

void Readout::setText(const char* text) {
    if (std::strncmp(text, text_.data(), text_.size() - 1) == 0) return;
    std::strncpy(text_.data(), text, text_.size() - 1);
    text_.back() = '\0';
    setDirty();
}

void Readout::draw(gui::DrawContext& context, const gui::Rect&) {
    drawPlate(context, rect());
}

void Readout::drawPlate(gui::DrawContext& context, const gui::Rect& area) {
    if (bitmap_ > 0) context.drawBitmap(bitmap_, rect().topLeft());
    context.drawText(text_.data(), area, gui::Align::Center, kText);
}

gui::Rect dropDownTextArea(const gui::Rect& plate) {
    return {plate.left, plate.top, plate.right - kDropDownArrowWidth, plate.bottom};
}

int meterFrame(float amplitude, int frames) {
    if (frames <= 1 || !(amplitude > 0.0f)) return 0;
    const float db = decibels(amplitude);
    if (!(db >= kMeterFloorDb)) return 0;
    // Frame 1 at the floor, the last at 0 dBFS, the ones between on equal steps.
    const int lit = static_cast<int>((db - kMeterFloorDb) / -kMeterFloorDb * static_cast<float>(frames - 2));
    return std::clamp(1 + lit, 1, frames - 1);
}

void Led::setLevel(float level) {
    const int frame = stripFrame(level, frames_);
    if (frame == frame_) return;
    frame_ = frame;
    setDirty();
}

void Led::setPeak(float amplitude) {
    const int frame = meterFrame(amplitude, frames_);
    if (frame == frame_) return;
    frame_ = frame;
    setDirty();
}

void Led::draw(gui::DrawContext& context, const gui::Rect&) {
    drawFrame(context, bitmap_, frame_, rect());
}

}  // namespace kf::editor
