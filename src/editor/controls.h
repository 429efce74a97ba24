// The editor's own control kinds. Each keeps its interaction (what a press, a drag or the
// wheel does to the value) apart from its drawing, and reports through the toolkit's
// ControlListener, so the editor decides what a value means for the instance.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "editor/layout.h"
#include "editor/learn_menu.h"
#include "gui/view.h"

namespace kf::editor {

// A value 0..1 set by dragging up and down (relative: where the press lands does not
// matter), the wheel, and reset by a Control-click or a double click. The right button opens
// the learn menu at the pointer.
class Knob : public gui::Control {
  public:
    static constexpr float kDragPerPixel = 0.01f;
    static constexpr float kFineDragPerPixel = 0.0005f;  // with Shift
    static constexpr float kWheelPerNotch = 0.35f * 0.05f;

    // `frames` pictures stacked in bitmap `bitmap`; `shown` maps the value to the 0..1
    // position the strip shows (the value itself when empty).
    Knob(const LayoutRow& row, int frames, gui::ControlListener* listener, std::function<float(float)> shown);

    // Drag amounts are multiplied by this (a knob with many detents turns slower).
    void setSensitivity(float s) { sensitivity_ = s; }
    // Whether the value returns to its default when the mouse is released (a bend wheel).
    void setSpringBack(bool on) { springBack_ = on; }
    // Where the right button's learn menu comes from; none: the right button does nothing.
    void setLearnMenus(LearnMenus* learn) { learn_ = learn; }
    // The strip frame drawn for the current value, always a valid index.
    int frameIndex() const;

    bool mouseDown(const gui::Event& e) override;
    bool mouseMoved(const gui::Event& e) override;
    bool mouseUp(const gui::Event& e) override;
    bool wheel(const gui::Event& e) override;
    void draw(gui::DrawContext& context, const gui::Rect& dirty) override;

  private:
    int bitmap_;
    int frames_;
    std::function<float(float)> shown_;
    float sensitivity_ = 1.0f;
    bool springBack_ = false;
    LearnMenus* learn_ = nullptr;
    bool dragging_ = false;
    int lastY_ = 0;
};

// A click advances the state (0..count-1, wrapping); a one-state button is momentary:
// state 1 while pressed, 0 on release. Drawn as frame `state` of its bitmap strip.
class Button : public gui::Control {
  public:
    Button(const LayoutRow& row, gui::ControlListener* listener);
    int states() const { return count_; }
    bool mouseDown(const gui::Event& e) override;
    bool mouseUp(const gui::Event& e) override;
    void draw(gui::DrawContext& context, const gui::Rect& dirty) override;

  private:
    int bitmap_;
    int count_;
    bool pressed_ = false;
};

// A click pops up the list of entries; the chosen entry's index becomes the value. The face
// is the entry's frame of the bitmap strip, or its text when the menu has no strip.
class OptionMenu : public gui::Control {
  public:
    OptionMenu(const LayoutRow& row, gui::ControlListener* listener);
    int entries() const { return count_; }
    // Ends the entry list with the MIDI learn section of these menus.
    void setLearnMenus(LearnMenus* learn) { learn_ = learn; }
    bool mouseDown(const gui::Event& e) override;
    void draw(gui::DrawContext& context, const gui::Rect& dirty) override;

  private:
    int bitmap_;
    int count_;
    LearnMenus* learn_ = nullptr;
};

// Text on a drop-down plate (the preset field, the sample's name) keeps this far from the
// plate's right edge, clear of the arrow drawn there.
inline constexpr int kDropDownArrowWidth = 14;
gui::Rect dropDownTextArea(const gui::Rect& plate);

// Text on the readout plate; set by the editor, redrawn only when it changes.
class Readout : public gui::View {
  public:
    Readout(const gui::Rect& rect, int bitmap) : View(rect), bitmap_(bitmap) {}
    void setText(const char* text);
    const char* text() const { return text_.data(); }
    void draw(gui::DrawContext& context, const gui::Rect& dirty) override;

  protected:
    // The plate, with the text centred in `area`.
    void drawPlate(gui::DrawContext& context, const gui::Rect& area);

  private:
    int bitmap_;
    std::array<char, 32> text_{};
};

// A frame of a bitmap strip chosen by a level 0..1 (an on/off indicator) or by a peak
// amplitude (a level meter).
class Led : public gui::View {
  public:
    Led(const LayoutRow& row, int frames) : View(row.rect), bitmap_(row.bitmap), frames_(frames) {}
    void setLevel(float level);
    void setPeak(float amplitude);
    int frameIndex() const { return frame_; }
    void draw(gui::DrawContext& context, const gui::Rect& dirty) override;

  private:
    int bitmap_;
    int frames_;
    int frame_ = 0;
};

// Frame `index` of an `frames`-frame strip for position v, clamped: a host may store any
// value, and the index must stay inside the strip whatever it is.
int stripFrame(float v, int frames);

// The lamp of a `frames`-frame meter strip for a peak amplitude: frame 0 (dark) below
// kMeterFloorDb, then equal steps in decibels up to the last frame at full scale. Ears and
// voices work in decibels: speech peaking at -20 dBFS lights the middle of the strip.
inline constexpr float kMeterFloorDb = -48.0f;
int meterFrame(float amplitude, int frames);

}  // namespace kf::editor
