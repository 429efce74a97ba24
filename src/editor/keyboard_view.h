// The four-octave keyboard that plays the instance with the mouse, and the readout of its
// lowest key. A left press plays a key while the button is held and glides along the keys
// while dragged; a right press latches a key (or releases a held one). Every note the
// instance holds, whatever holds it, is drawn down.
#pragma once

#include <array>
#include <cstdint>

#include "editor/ports.h"
#include "gui/view.h"

namespace kf::editor {

namespace keys {

inline constexpr int kWhiteWidth = 13;
inline constexpr int kHeight = 65;
inline constexpr int kOctaveWidth = 7 * kWhiteWidth;
inline constexpr int kOctaves = 4;
inline constexpr int kBlackWidth = 10, kBlackHeight = 40;
// Black keys relative to their octave's left edge, each centred on the boundary of the two
// white keys it stands between.
inline constexpr std::array<int, 5> kBlackLeft = {8, 21, 47, 60, 73};
inline constexpr std::array<int, 5> kBlackSemitone = {1, 3, 6, 8, 10};
inline constexpr std::array<int, 7> kWhiteSemitone = {0, 2, 4, 5, 7, 9, 11};

// Semitones above the lowest key of the key at `p`, relative to the keyboard's top-left;
// -1 outside the keys.
int offsetAt(gui::Point p);
// Velocity of a press `y` pixels below the top: the top edge plays softest.
int velocityAt(int y);
// The lowest key after moving it `octaves` (±1) up or down; unchanged when the keyboard
// would leave the MIDI range.
float transposed(float base, int octaves);

}  // namespace keys

class KeyboardView : public gui::View {
  public:
    KeyboardView(const gui::Rect& rect, KeyboardPort& keyboard);
    // A key still held by the mouse is released: no note outlives the window.
    ~KeyboardView() override;

    void draw(gui::DrawContext& context, const gui::Rect& dirty) override;
    bool mouseDown(const gui::Event& e) override;
    bool mouseMoved(const gui::Event& e) override;
    bool mouseUp(const gui::Event& e) override;

    // Each idle: redraws when the held keys or the lowest key changed, and releases the
    // mouse's note when the keyboard is no longer shown.
    void poll();

    // The note under a window point, or -1.
    int noteAt(gui::Point p) const;
    // The note the left button's gesture has turned on, or -1.
    int soundingNote() const { return sounding_; }

  private:
    void releaseSounding();
    bool drawnDown(int note) const;
    int base() const;

    KeyboardPort& keyboard_;
    int pressed_ = -1;   // the key under the left button while it is held
    int sounding_ = -1;  // the note that gesture turned on (the release is owed for it)
    int velocity_ = 0;   // of the press; a glide keeps it
    std::array<uint32_t, 4> shownMask_{};
    int shownBase_ = -1;
};

// The name of the keyboard's lowest key, a frame of a bitmap strip (frame k: note 12k).
class KeyboardBaseReadout : public gui::View {
  public:
    KeyboardBaseReadout(const gui::Rect& rect, int bitmap, const KeyboardPort& keyboard)
        : View(rect), bitmap_(bitmap), keyboard_(keyboard) {}
    void draw(gui::DrawContext& context, const gui::Rect& dirty) override;
    void poll();

  private:
    int bitmap_;
    const KeyboardPort& keyboard_;
    int shown_ = -1;
};

}  // namespace kf::editor
