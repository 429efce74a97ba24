// Where every control of the editor's page sits: one table, in creation order (later rows
// draw on top), so the frame is built from data instead of per-control set-up code. Rects
// are window pixels, right and bottom exclusive.
#pragma once

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>

#include "editor/overlay_page.h"
#include "gui/geometry.h"

namespace kf::editor {

inline constexpr int kWidth = 503, kHeight = 404;
inline constexpr int kBackgroundBitmap = 1000;

enum class ControlKind : uint8_t {
    Image,    // a still picture
    Knob,     // a value 0..1 dragged up and down, drawn as a frame of a bitmap strip
    Button,   // clicks step through `count` states (count 1: pressed while held)
    Menu,     // a pop-up list of `count` entries
    Readout,  // the text of parameter `source`'s working value
    Led,      // meter `source` (0..3), or kLearnLed: lit while a knob waits for a controller
    Presets,  // the preset menu, its face naming the current program
    // The sampler's sample (waveform, markers, loading), and its name on a readout plate.
    SampleView,
    SampleName,
    Page,     // a two-state button showing (and switching) the overlay page state
    Link,     // pressed: opens the user manual
    Keys,     // the on-screen keyboard
    KeyName,  // the name of the keyboard's lowest key, a frame of a bitmap strip
};

inline constexpr int32_t kLearnLed = -2;

struct LayoutRow {
    int32_t tag;
    ControlKind kind;
    gui::Rect rect;
    int group;       // view group whose bit shows the control
    int bitmap;      // bitmap id; 0 for none
    int32_t source;  // the parameter (or meter) the control shows
    int count;       // Button: states; Menu: entries
    float step;      // Button, Menu: the value sent for state n is n × step
    // Knob: when a != b the strip shows (working value − b) / (a − b) instead of the value,
    // so a stepped working value (octave) lands on its own frame.
    float a, b;
};

namespace row {
constexpr LayoutRow image(int32_t tag, gui::Rect r, int group, int bitmap) {
    return {tag, ControlKind::Image, r, group, bitmap, -1, 0, 0.0f, 0.0f, 0.0f};
}
constexpr LayoutRow knob(int32_t tag, gui::Rect r, int group, int bitmap, float a = 0.0f, float b = 0.0f) {
    return {tag, ControlKind::Knob, r, group, bitmap, tag, 0, 0.0f, a, b};
}
constexpr LayoutRow button(int32_t tag, gui::Rect r, int group, int bitmap, int count, float step) {
    return {tag, ControlKind::Button, r, group, bitmap, tag, count, step, 0.0f, 0.0f};
}
constexpr LayoutRow menu(int32_t tag, gui::Rect r, int group, int bitmap, int count, float step) {
    return {tag, ControlKind::Menu, r, group, bitmap, tag, count, step, 0.0f, 0.0f};
}
constexpr LayoutRow readout(int32_t tag, gui::Rect r, int group, int32_t parameter) {
    return {tag, ControlKind::Readout, r, group, 1005, parameter, 0, 0.0f, 0.0f, 0.0f};
}
constexpr LayoutRow led(int32_t tag, gui::Rect r, int bitmap, int32_t source) {
    return {tag, ControlKind::Led, r, 0, bitmap, source, 0, 0.0f, 0.0f, 0.0f};
}
constexpr LayoutRow presets(int32_t tag, gui::Rect r, int bitmap) {
    return {tag, ControlKind::Presets, r, 0, bitmap, -1, 0, 0.0f, 0.0f, 0.0f};
}
constexpr LayoutRow sampleView(int32_t tag, gui::Rect r, int group) {
    return {tag, ControlKind::SampleView, r, group, 0, tag, 0, 0.0f, 0.0f, 0.0f};
}
constexpr LayoutRow sampleName(int32_t tag, gui::Rect r, int group, int bitmap) {
    return {tag, ControlKind::SampleName, r, group, bitmap, -1, 0, 0.0f, 0.0f, 0.0f};
}
constexpr LayoutRow pageButton(int32_t tag, gui::Rect r, int group, int bitmap) {
    return {tag, ControlKind::Page, r, group, bitmap, -1, 2, 0.0f, 0.0f, 0.0f};
}
constexpr LayoutRow link(int32_t tag, gui::Rect r, int group, int bitmap) {
    return {tag, ControlKind::Link, r, group, bitmap, -1, 1, 0.0f, 0.0f, 0.0f};
}
constexpr LayoutRow keys(int32_t tag, gui::Rect r, int group) {
    return {tag, ControlKind::Keys, r, group, 0, -1, 0, 0.0f, 0.0f, 0.0f};
}
constexpr LayoutRow keyName(int32_t tag, gui::Rect r, int group, int bitmap) {
    return {tag, ControlKind::KeyName, r, group, bitmap, -1, 0, 0.0f, 0.0f, 0.0f};
}
// The 50 × 14 readout under a knob whose left edge is x.
constexpr gui::Rect below(int x, int y) {
    return {x, y, x + 50, y + 14};
}
}  // namespace row

// One bit per view group; a control is shown while its group's bit is set.
using ViewGroupMask = std::bitset<16>;

// Groups: 0 top bar, 1 input stage 1, 2 sampler, 3 synthesizer, 4 input stage 2, 5 main
// controls, 6 and 7 the overlay's sub-pages, 9 the overlay header, 10–14 the effect slot
// (none, reverb, delay, phaser, lo-fi). Each readout shares its knob's group, so the panels
// that replace one another never draw two texts in one place.
inline constexpr auto kLayout = std::to_array<LayoutRow>({
    // The panel pictures. Several rects are taller or narrower than their bitmap: the bitmap
    // sits at the rect's top-left and is clipped to it, the background shows in the rest.
    row::image(56, {332, 256, 492, 337}, 13, 1024),  // phaser
    row::image(60, {332, 256, 492, 337}, 11, 1028),  // reverb
    row::image(64, {332, 256, 492, 337}, 12, 1004),  // delay
    row::image(68, {332, 256, 492, 337}, 14, 1027),  // lo-fi
    row::image(72, {332, 256, 492, 337}, 10, 1021),  // no effect
    row::image(77, {8, 58, 223, 142}, 2, 1030),      // sampler
    row::image(86, {8, 58, 223, 141}, 1, 1014),      // input stage 1
    row::image(103, {5, 136, 388, 231}, 4, 1013),    // input stage 2 over the synth
    row::image(111, {5, 37, 500, 132}, 9, 1048),     // overlay header
    row::image(118, {5, 132, 500, 500}, 6, 1033),    // overlay page "basics"
    row::image(121, {5, 132, 500, 500}, 7, 1035),    // overlay page "tips"

    // Top bar: the preset menu, the learn indicator and the four level meters.
    row::presets(115, {225, 3, 328, 16}, 1031),
    row::led(82, {355, 22, 365, 32}, 1015, kLearnLed),
    row::led(90, {401, 22, 411, 32}, 1001, 1),   // analysis input
    row::led(105, {425, 22, 435, 32}, 1001, 2),  // synthesis input
    row::led(89, {456, 22, 466, 32}, 1001, 0),   // output left
    row::led(106, {479, 22, 489, 32}, 1001, 3),  // output right

    // The overlay page: the info button in the top bar, the sub-page buttons and the manual
    // link on the overlay's header.
    row::pageButton(119, {227, 22, 327, 32}, 0, 1032),   // settings_c
    row::pageButton(120, {227, 77, 327, 92}, 9, 1002),   // basics_c
    row::pageButton(122, {227, 95, 327, 110}, 9, 1034),  // tnt_c
    row::link(124, {227, 113, 327, 128}, 9, 1018),

    // Main controls.
    row::menu(91, {124, 43, 214, 55}, 5, 1010, 4, 0.25f),  // carrier_mode
    row::knob(9, {339, 86, 377, 124}, 5, 1039, 2.0f, 0.1f),
    row::knob(10, {393, 86, 431, 124}, 5, 1040),
    row::knob(11, {447, 86, 485, 124}, 5, 1039, 10.0f, 120.0f),
    row::readout(45, row::below(332, 125), 5, 9),
    row::readout(47, row::below(386, 125), 5, 10),
    row::readout(44, row::below(441, 125), 5, 11),
    row::menu(95, {124, 142, 214, 154}, 5, 1009, 3, 0.33333334f),  // modulator_mode
    row::knob(29, {447, 185, 485, 223}, 5, 1039),
    row::readout(94, row::below(442, 224), 5, 29),
    row::menu(55, {401, 241, 491, 253}, 5, 1007, 5, 0.2f),  // effects_choice
    row::knob(23, {15, 284, 53, 322}, 5, 1039),
    row::readout(46, {14, 322, 54, 336}, 5, 23),
    row::knob(24, {69, 284, 107, 322}, 5, 1040, 12.0f, -12.0f),
    row::knob(25, {123, 284, 161, 322}, 5, 1040, 12.0f, -12.0f),
    row::knob(26, {177, 284, 215, 322}, 5, 1040, 12.0f, -12.0f),
    row::readout(74, row::below(63, 322), 5, 24),
    row::readout(75, row::below(117, 322), 5, 25),
    row::readout(76, row::below(171, 322), 5, 26),
    row::knob(27, {232, 284, 270, 322}, 5, 1039),
    row::knob(28, {286, 284, 324, 322}, 5, 1039, 30.0f, 200.0f),
    row::readout(92, row::below(227, 322), 5, 27),
    row::readout(93, row::below(281, 322), 5, 28),
    row::knob(104, {14, 336, 30, 398}, 5, 1044),  // pitch bend wheel
    row::knob(12, {47, 336, 63, 398}, 5, 1044),   // modulation wheel
    // One pixel below its place in the artwork, clear of the low-EQ readout above it.
    row::button(112, {82, 336, 117, 359}, 5, 1037, 1, 0.5f),  // transpose up
    row::button(113, {82, 374, 117, 397}, 5, 1038, 1, 0.5f),  // transpose down
    row::keyName(114, {85, 360, 113, 372}, 5, 1036),
    row::keys(101, {128, 338, 492, 403}, 5),

    // Input stage 1.
    row::knob(1, {15, 86, 53, 124}, 1, 1039),
    row::knob(2, {69, 86, 107, 124}, 1, 1039),
    row::knob(3, {123, 86, 161, 124}, 1, 1039, 20.0f, 180.0f),
    row::knob(4, {177, 86, 215, 124}, 1, 1039),
    row::readout(83, row::below(9, 125), 1, 1),
    row::readout(84, row::below(63, 125), 1, 2),
    row::readout(85, row::below(117, 125), 1, 3),
    row::readout(88, row::below(171, 125), 1, 4),
    row::menu(87, {12, 59, 102, 71}, 1, 0, 2, 0.5f),  // in_a, clear of the panel title

    // Sampler.
    row::button(13, {13, 77, 56, 91}, 2, 1022, 2, 0.5f),    // loop
    row::button(14, {66, 77, 109, 91}, 2, 1026, 4, 0.25f),  // retrigger
    row::knob(42, {124, 86, 162, 124}, 2, 1040),
    row::knob(43, {178, 86, 216, 124}, 2, 1039),
    row::readout(80, row::below(117, 125), 2, 42),
    row::readout(79, row::below(171, 125), 2, 43),
    row::sampleView(78, {12, 95, 111, 124}, 2),
    row::sampleName(81, {10, 128, 113, 142}, 2, 1031),

    // Synthesizer.
    row::button(0, {279, 142, 330, 154}, 3, 1006, 3, 0.33333334f),  // filtertype
    row::knob(15, {11, 181, 57, 221}, 3, 1041),
    row::knob(16, {69, 185, 107, 223}, 3, 1040),
    row::knob(17, {123, 179, 153, 189}, 3, 1020, 24.0f, -24.0f),  // octave
    row::knob(18, {124, 215, 154, 225}, 3, 1023),                 // bend range
    row::knob(19, {177, 185, 215, 223}, 3, 1040),
    row::knob(20, {231, 185, 269, 223}, 3, 1039),
    row::knob(21, {285, 185, 323, 223}, 3, 1039),
    row::knob(22, {339, 185, 377, 223}, 3, 1039),
    // Centred under the wide waveform knob, clear of the noise readout beside it.
    row::readout(54, row::below(9, 224), 3, 15),
    row::readout(52, row::below(63, 223), 3, 16),
    row::readout(50, row::below(171, 224), 3, 19),
    row::readout(53, row::below(226, 224), 3, 20),
    row::readout(49, row::below(280, 224), 3, 21),
    row::readout(51, row::below(334, 224), 3, 22),
    row::menu(102, {121, 156, 221, 168}, 3, 0, 2, 0.5f),  // synthoff

    // Input stage 2.
    row::knob(5, {15, 185, 53, 223}, 4, 1039),
    row::knob(6, {69, 185, 107, 223}, 4, 1039),
    row::knob(7, {123, 185, 161, 223}, 4, 1039, 20.0f, 180.0f),
    row::knob(8, {177, 185, 215, 223}, 4, 1039),
    row::readout(96, row::below(10, 223), 4, 5),
    row::readout(97, row::below(63, 223), 4, 6),
    row::readout(98, row::below(118, 224), 4, 7),
    row::readout(100, row::below(171, 224), 4, 8),
    row::menu(99, {121, 156, 221, 168}, 4, 0, 2, 0.5f),  // in_b

    // The effect slot: reverb, delay, phaser, lo-fi.
    row::knob(30, {339, 284, 377, 322}, 11, 1039),
    row::knob(31, {393, 284, 431, 322}, 11, 1039),
    row::knob(32, {447, 284, 485, 322}, 11, 1039),
    row::readout(61, row::below(335, 322), 11, 30),
    row::readout(62, row::below(388, 322), 11, 31),
    row::readout(63, row::below(441, 322), 11, 32),
    row::knob(33, {339, 284, 377, 322}, 12, 1039),
    row::knob(34, {393, 284, 431, 322}, 12, 1039),
    row::knob(35, {447, 284, 485, 322}, 12, 1039),
    row::readout(66, row::below(335, 322), 12, 33),
    row::readout(67, row::below(389, 322), 12, 34),
    row::readout(65, row::below(443, 322), 12, 35),
    row::knob(36, {339, 284, 377, 322}, 13, 1039),
    row::knob(37, {393, 284, 431, 322}, 13, 1039),
    row::knob(38, {447, 284, 485, 322}, 13, 1039),
    row::readout(58, row::below(335, 322), 13, 36),
    row::readout(59, row::below(389, 322), 13, 37),
    row::readout(57, row::below(443, 322), 13, 38),
    row::knob(39, {339, 284, 377, 322}, 14, 1039),
    row::knob(40, {393, 284, 431, 322}, 14, 1039),
    row::knob(41, {447, 284, 485, 322}, 14, 1039),
    row::readout(70, row::below(334, 322), 14, 39),
    row::readout(71, row::below(388, 322), 14, 40),
    row::readout(69, row::below(442, 322), 14, 41),
});

static_assert(std::ranges::all_of(kLayout, [](const LayoutRow& r) {
    return r.group >= 0 && r.group < static_cast<int>(ViewGroupMask().size());
}));

// The groups shown for these choices: the top bar always; with the overlay, its header and
// the chosen sub-page; otherwise the main controls, the analysis input's panel (input
// stage 1, or the sampler for carrier 3), the synthesis input's panel (input stage 2, or
// the synthesizer for modulator 2) and the effect's slot. Derived on the editor's thread
// from the choices alone, so no other thread writes what the editor shows and a page never
// depends on the order in which choices were set.
inline ViewGroupMask pageGroups(int32_t effect, int32_t carrier, int32_t modulator, Overlay overlay) {
    ViewGroupMask groups;
    groups.set(0);
    if (overlay != Overlay::Off) {
        groups.set(9);
        groups.set(overlay == Overlay::Basics ? 6 : 7);
        return groups;
    }
    groups.set(5);
    groups.set(carrier >= 3 ? 2 : 1);
    groups.set(modulator >= 2 ? 3 : 4);
    groups.set(static_cast<std::size_t>(10 + std::clamp(effect, 0, 4)));
    return groups;
}

// The entries of the menus without a face bitmap strip of their own, and the words shown on
// those that have one when the strip is missing.
const char* menuEntry(int32_t tag, int index);

}  // namespace kf::editor
