#include "editor/keyboard_view.h"

#include <algorithm>
#include <cmath>

#include "artwork/artwork.h"
#include "gui/draw_context.h"

namespace kf::editor {

namespace keys {

namespace {

// White-key pictures by the side(s) a black key cuts away.
constexpr std::array<int, 7> kWhiteBitmap = {artwork::white_key_cut_right, artwork::white_key_cut_both,
                                             artwork::white_key_cut_left,  artwork::white_key_cut_right,
                                             artwork::white_key_cut_both,  artwork::white_key_cut_both,
                                             artwork::white_key_cut_left};
constexpr int kHighestNote = 127;
constexpr int kKeys = kOctaves * 12;

gui::Rect blackKeyRect(int octave, int k) {
    const int x = octave * kOctaveWidth + kBlackLeft[static_cast<std::size_t>(k)];
    return {x, 0, x + kBlackWidth, kBlackHeight};
}

}  // namespace

int offsetAt(gui::Point p) {
    if (p.x < 0 || p.y < 0 || p.x >= kOctaves * kOctaveWidth || p.y >= kHeight) return -1;
    const int octave = std::clamp(p.x / kWhiteWidth / 7, 0, kOctaves - 1);
    // Black keys stand on top of the white ones, so they are looked at first.
    for (int k = 0; k < static_cast<int>(kBlackLeft.size()); ++k)
        if (blackKeyRect(octave, k).contains(p))
            return octave * 12 + kBlackSemitone[static_cast<std::size_t>(k)];
    const int white = std::clamp((p.x - octave * kOctaveWidth) / kWhiteWidth, 0, 6);
    return octave * 12 + kWhiteSemitone[static_cast<std::size_t>(white)];
}

int velocityAt(int y) {
    const float v = static_cast<float>(y) / static_cast<float>(kHeight) * 100.0f + 27.0f;
    return static_cast<int>(std::clamp(v, 27.0f, 127.0f));
}

float transposed(float base, int octaves) {
    const float moved = base + 12.0f * static_cast<float>(octaves);
    if (octaves > 0) return moved + kKeys < kHighestNote + 1 ? moved : base;
    return moved > 0.0f ? moved : base;
}

}  // namespace keys

KeyboardView::KeyboardView(const gui::Rect& rect, KeyboardPort& keyboard) : View(rect), keyboard_(keyboard) {}

KeyboardView::~KeyboardView() {
    // The frame is going away with its views: only the note needs ending, nothing redrawing.
    if (sounding_ >= 0) keyboard_.postNoteOff(sounding_, velocity_);
}

int KeyboardView::base() const {
    return static_cast<int>(keyboard_.keyboardBase());
}

int KeyboardView::noteAt(gui::Point p) const {
    const int offset = keys::offsetAt({p.x - rect().left, p.y - rect().top});
    if (offset < 0) return -1;
    const int note = base() + offset;
    return note >= 0 && note <= 127 ? note : -1;
}

void KeyboardView::releaseSounding() {
    if (sounding_ >= 0) keyboard_.postNoteOff(sounding_, velocity_);
    sounding_ = -1;
    pressed_ = -1;
    setDirty();
}

bool KeyboardView::mouseDown(const gui::Event& e) {
    const int note = noteAt(e.pos);
    if (note < 0) return false;
    const int velocity = keys::velocityAt(e.pos.y - rect().top);
    // Click counts play no part: a fast second click is a press like any other.
    if (e.button == gui::MouseButton::Right) {
        // A latch: on until clicked again, by either button. Releasing the note the left
        // button plays ends that gesture's note, so its release is not sent twice.
        if (note == sounding_) {
            releaseSounding();
            return true;
        }
        if (keyboard_.keyHeld(note))
            keyboard_.postNoteOff(note, velocity);
        else
            keyboard_.postNoteOn(note, velocity);
        setDirty();
        return true;
    }
    if (e.button != gui::MouseButton::Left) return false;
    if (pressed_ >= 0) return true;
    if (keyboard_.keyHeld(note)) {
        keyboard_.postNoteOff(note, velocity);
        setDirty();
        return true;
    }
    velocity_ = velocity;
    pressed_ = note;
    if (keyboard_.postNoteOn(note, velocity)) sounding_ = note;
    setDirty();
    return true;
}

bool KeyboardView::mouseMoved(const gui::Event& e) {
    if (pressed_ < 0 || !(e.buttons & gui::buttonMask(gui::MouseButton::Left)) || !isVisible()) return true;
    const int note = noteAt(e.pos);
    // Off the keys the note goes on sounding until the pointer finds another key or the
    // button comes up.
    if (note < 0 || note == pressed_) return true;
    // The glide: the note this gesture turned on always ends before the next begins. A key
    // something else holds is passed over without taking it from its holder.
    if (sounding_ >= 0) keyboard_.postNoteOff(sounding_, velocity_);
    sounding_ = -1;
    pressed_ = note;
    if (!keyboard_.keyHeld(note) && keyboard_.postNoteOn(note, velocity_)) sounding_ = note;
    setDirty();
    return true;
}

bool KeyboardView::mouseUp(const gui::Event& e) {
    if (e.button == gui::MouseButton::Left) releaseSounding();
    return true;
}

void KeyboardView::poll() {
    if (!isVisible() && (sounding_ >= 0 || pressed_ >= 0)) releaseSounding();
    bool changed = base() != shownBase_;
    for (int w = 0; w < 4; ++w) {
        const uint32_t word = keyboard_.heldKeys(w);
        changed |= word != shownMask_[static_cast<std::size_t>(w)];
        shownMask_[static_cast<std::size_t>(w)] = word;
    }
    shownBase_ = base();
    if (changed) setDirty();
}

bool KeyboardView::drawnDown(int note) const {
    if (note < 0 || note > 127) return false;
    if (note == sounding_ || note == pressed_) return true;
    return (shownMask_[static_cast<std::size_t>(note / 32)] >> (note % 32)) & 1u;
}

void KeyboardView::draw(gui::DrawContext& context, const gui::Rect&) {
    const gui::Rect& r = rect();
    const int lowest = base();
    for (int octave = 0; octave < keys::kOctaves; ++octave) {
        for (std::size_t w = 0; w < keys::kWhiteSemitone.size(); ++w) {
            const int x = r.left + octave * keys::kOctaveWidth + static_cast<int>(w) * keys::kWhiteWidth;
            const int note = lowest + octave * 12 + keys::kWhiteSemitone[w];
            context.drawBitmapFrame(keys::kWhiteBitmap[w], drawnDown(note) ? 1 : 0, keys::kHeight,
                                    {x, r.top, x + keys::kWhiteWidth, r.top + keys::kHeight});
        }
    }
    for (int octave = 0; octave < keys::kOctaves; ++octave) {
        for (int k = 0; k < static_cast<int>(keys::kBlackLeft.size()); ++k) {
            const gui::Rect key = keys::blackKeyRect(octave, k);
            const int note = lowest + octave * 12 + keys::kBlackSemitone[static_cast<std::size_t>(k)];
            context.drawBitmapFrame(
                artwork::black_key, drawnDown(note) ? 1 : 0, keys::kBlackHeight,
                {r.left + key.left, r.top + key.top, r.left + key.right, r.top + key.bottom});
        }
    }
}

void KeyboardBaseReadout::draw(gui::DrawContext& context, const gui::Rect&) {
    context.drawBitmapFrame(bitmap_, static_cast<int>(keyboard_.keyboardBase()) / 12,
                            artwork::frameHeight(bitmap_), rect());
}

void KeyboardBaseReadout::poll() {
    const int base = static_cast<int>(keyboard_.keyboardBase());
    if (base != shown_) setDirty();
    shown_ = base;
}

}  // namespace kf::editor
