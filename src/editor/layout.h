// Where every control of the editor's page sits: one table, in creation order (later rows
// draw on top), so the frame is built from data instead of per-control set-up code. Rects
// are window pixels, right and bottom exclusive.
#pragma once

#include <array>
#include <cstdint>

#include "gui/geometry.h"

namespace kf::editor {

inline constexpr int kWidth = 503, kHeight = 404;
inline constexpr int kBackgroundBitmap = 1000;

enum class ControlKind : uint8_t { Image };

struct LayoutRow {
    int32_t tag;
    ControlKind kind;
    gui::Rect rect;
    int group;   // view group whose bit shows the control
    int bitmap;  // bitmap id
};

// The panel pictures. Several rects are taller or narrower than their bitmap: the bitmap
// sits at the rect's top-left and is clipped to it, the background shows in the rest.
inline constexpr std::array<LayoutRow, 11> kLayout{{
    {56, ControlKind::Image, {332, 256, 492, 337}, 13, 1024},  // phaser
    {60, ControlKind::Image, {332, 256, 492, 337}, 11, 1028},  // reverb
    {64, ControlKind::Image, {332, 256, 492, 337}, 12, 1004},  // delay
    {68, ControlKind::Image, {332, 256, 492, 337}, 14, 1027},  // lo-fi
    {72, ControlKind::Image, {332, 256, 492, 337}, 10, 1021},  // no effect
    {77, ControlKind::Image, {8, 58, 223, 142}, 2, 1030},      // sampler
    {86, ControlKind::Image, {8, 58, 223, 141}, 1, 1014},      // input stage 1
    {103, ControlKind::Image, {5, 136, 388, 231}, 4, 1013},    // input stage 2 over the synth
    {111, ControlKind::Image, {5, 37, 500, 132}, 9, 1048},     // overlay header
    {118, ControlKind::Image, {5, 132, 500, 500}, 6, 1033},    // overlay page "basics"
    {121, ControlKind::Image, {5, 132, 500, 500}, 7, 1035},    // overlay page "tips"
}};

}  // namespace kf::editor
