// Where every control of the editor's page sits: one table, in creation order (later rows
// draw on top), so the frame is built from data instead of per-control set-up code. Rects
// are window pixels, right and bottom exclusive.
#pragma once

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>

#include "artwork/artwork.h"
#include "common/parameter_table.h"
#include "editor/overlay_page.h"
#include "gui/geometry.h"

namespace kf::editor {

inline constexpr int kWidth = 503, kHeight = 404;
inline constexpr int kBackgroundBitmap = artwork::background;

enum class ControlKind : uint8_t {
    Image,  // a still picture
    // A value 0..1 dragged up and down, drawn as a frame of a bitmap strip, and the plate
    // where its value reads, as the parameter table's readout column says (when it has one).
    Knob,
    Button,   // clicks step through `count` states (count 1: pressed while held)
    Menu,     // a pop-up list of `count` entries
    Led,      // meter `source` (0..3), or kLearnLed: lit while a knob waits for a controller
    Presets,  // the preset menu, its face naming the current program
    // The sampler's sample (waveform, markers, loading), and its name on a readout plate.
    SampleView,
    SampleName,
    Page,     // a two-state button showing (and switching) the overlay page state
    Link,     // pressed: opens the user manual
    Keys,     // the on-screen keyboard
    KeyName,  // the name of the keyboard's lowest key, a frame of a bitmap strip
    Bands,    // the analysis bands' live levels in the emblem's well (the picture while no audio runs)
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
    gui::Rect readout{};  // Knob: where its value reads; empty for none
};

namespace row {
constexpr LayoutRow image(int32_t tag, gui::Rect r, int group, int bitmap) {
    return {tag, ControlKind::Image, r, group, bitmap, -1, 0, 0.0f, 0.0f, 0.0f};
}
inline constexpr gui::Rect kNoReadout{};
constexpr LayoutRow knob(int32_t tag, gui::Rect r, int group, int bitmap, gui::Rect readout = kNoReadout,
                         float a = 0.0f, float b = 0.0f) {
    return {tag, ControlKind::Knob, r, group, bitmap, tag, 0, 0.0f, a, b, readout};
}
constexpr LayoutRow button(int32_t tag, gui::Rect r, int group, int bitmap, int count, float step) {
    return {tag, ControlKind::Button, r, group, bitmap, tag, count, step, 0.0f, 0.0f};
}
constexpr LayoutRow menu(int32_t tag, gui::Rect r, int group, int bitmap, int count, float step) {
    return {tag, ControlKind::Menu, r, group, bitmap, tag, count, step, 0.0f, 0.0f};
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
constexpr LayoutRow bands(int32_t tag, gui::Rect r, int group, int bitmap) {
    return {tag, ControlKind::Bands, r, group, bitmap, -1, 0, 0.0f, 0.0f, 0.0f};
}
// The 50 × 14 readout under a knob whose left edge is x.
constexpr gui::Rect below(int x, int y) {
    return {x, y, x + 50, y + 14};
}
}  // namespace row

// One bit per view group; a control is shown while its group's bit is set.
using ViewGroupMask = std::bitset<16>;

// Groups: 0 top bar, 1 input stage 1, 2 sampler, 3 synthesizer, 4 input stage 2, 5 main
// controls, 6 and 7 the overlay's sub-pages, 8 the classic bank's own knob, 9 the overlay
// header, 10–14 the effect slot (none, reverb, delay, phaser, lo-fi), 15 the articulate
// bank's own knob. A knob's readout is shown with it, so the panels that replace one another
// never draw two texts in one place.
inline constexpr auto kLayout = std::to_array<LayoutRow>({
    // The panel pictures. Several rects are taller or narrower than their bitmap: the bitmap
    // sits at the rect's top-left and is clipped to it, the background shows in the rest.
    row::image(56, {332, 256, 492, 337}, 13, artwork::phaser_panel),
    row::image(60, {332, 256, 492, 337}, 11, artwork::reverb_panel),
    row::image(64, {332, 256, 492, 337}, 12, artwork::delay_panel),
    row::image(68, {332, 256, 492, 337}, 14, artwork::lofi_panel),
    row::image(72, {332, 256, 492, 337}, 10, artwork::no_effect_panel),
    row::image(77, {8, 58, 223, 142}, 2, artwork::sampler_panel),
    row::image(86, {8, 58, 223, 141}, 1, artwork::input1_panel),
    row::image(103, {5, 136, 388, 231}, 4, artwork::input2_panel),  // input stage 2 over the synth
    row::image(111, {5, 37, 500, 132}, 9, artwork::overlay_header),
    row::image(118, {5, 132, 500, 500}, 6, artwork::basics_page),
    row::image(121, {5, 132, 500, 500}, 7, artwork::tips_page),

    // Top bar: the preset menu, the learn indicator and the four level meters.
    row::presets(115, {225, 3, 328, 16}, artwork::drop_down_plate),
    row::led(82, {355, 22, 365, 32}, artwork::learn_led, kLearnLed),
    row::led(90, {401, 22, 411, 32}, artwork::meter_led, 1),   // analysis input
    row::led(105, {425, 22, 435, 32}, artwork::meter_led, 2),  // synthesis input
    row::led(89, {456, 22, 466, 32}, artwork::meter_led, 0),   // output left
    row::led(106, {479, 22, 489, 32}, artwork::meter_led, 3),  // output right

    // The overlay page: the info button in the top bar, the sub-page buttons and the manual
    // link on the overlay's header.
    row::pageButton(tag::settings_c, {227, 22, 327, 32}, 0, artwork::info_button),
    row::pageButton(tag::basics_c, {227, 77, 327, 92}, 9, artwork::basics_button),
    row::pageButton(tag::tnt_c, {227, 95, 327, 110}, 9, artwork::tips_button),
    row::link(124, {227, 113, 327, 128}, 9, artwork::manual_button),

    // Main controls.
    row::menu(tag::carrier_mode, {124, 43, 214, 55}, 5, artwork::carrier_menu, 4, 0.25f),
    row::knob(tag::focus, {339, 86, 377, 124}, 5, artwork::unipolar_knob, row::below(332, 125), 2.0f, 0.1f),
    row::knob(tag::shift, {393, 86, 431, 124}, 5, artwork::bipolar_knob, row::below(386, 125)),
    // The third knob shapes the bank chosen: the classic bank's release and resonance, or the
    // articulate bank's consonants (with its caption over the classic one).
    row::menu(tag::articulate, {411, 43, 491, 55}, 5, 0, 2, 1.0f),
    row::knob(tag::response, {447, 86, 485, 124}, 8, artwork::unipolar_knob, row::below(441, 125), 10.0f,
              120.0f),
    row::image(108,
               {466 - artwork::bands::kCaptionWidth / 2, 72, 466 + artwork::bands::kCaptionWidth / 2,
                72 + artwork::bands::kWellInFrame},
               15, artwork::band_display),
    row::knob(tag::consonants, {447, 86, 485, 124}, 15, artwork::unipolar_knob, row::below(441, 125)),
    row::bands(107,
               {artwork::bands::kWellLeft, artwork::bands::kWellTop,
                artwork::bands::kWellLeft + artwork::bands::kWellWidth,
                artwork::bands::kWellTop + artwork::bands::kWellHeight},
               5, artwork::band_display),
    row::menu(tag::modulator_mode, {124, 142, 214, 154}, 5, artwork::modulator_menu, 3, 0.33333334f),
    row::knob(tag::master_level, {447, 185, 485, 223}, 5, artwork::unipolar_knob, row::below(442, 224)),
    row::menu(tag::effects_choice, {401, 241, 491, 253}, 5, artwork::effect_menu, kEffectChoices,
              1.0f / static_cast<float>(kEffectChoices)),
    row::knob(tag::mix, {15, 284, 53, 322}, 5, artwork::unipolar_knob, {14, 322, 54, 336}),
    row::knob(tag::eq_low, {69, 284, 107, 322}, 5, artwork::bipolar_knob, row::below(63, 322), 12.0f, -12.0f),
    row::knob(tag::eq_mid, {123, 284, 161, 322}, 5, artwork::bipolar_knob, row::below(117, 322), 12.0f,
              -12.0f),
    row::knob(tag::eq_high, {177, 284, 215, 322}, 5, artwork::bipolar_knob, row::below(171, 322), 12.0f,
              -12.0f),
    row::knob(tag::mastercomp, {232, 284, 270, 322}, 5, artwork::unipolar_knob, row::below(227, 322)),
    row::knob(tag::compspeed, {286, 284, 324, 322}, 5, artwork::unipolar_knob, row::below(281, 322), 30.0f,
              200.0f),
    row::knob(tag::pitchbend, {14, 336, 30, 398}, 5, artwork::wheel),
    row::knob(tag::modwheel, {47, 336, 63, 398}, 5, artwork::wheel),
    // One pixel below its place in the artwork, clear of the low-EQ readout above it.
    row::button(tag::transpose_up, {82, 336, 117, 359}, 5, artwork::up_button, 1, 0.5f),
    row::button(tag::transpose_down, {82, 374, 117, 397}, 5, artwork::down_button, 1, 0.5f),
    row::keyName(114, {85, 360, 113, 372}, 5, artwork::base_key_text),
    row::keys(101, {128, 338, 492, 403}, 5),

    // Input stage 1.
    row::knob(tag::in1_gate, {15, 86, 53, 124}, 1, artwork::unipolar_knob, row::below(9, 125)),
    row::knob(tag::in1_comp_ratio, {69, 86, 107, 124}, 1, artwork::unipolar_knob, row::below(63, 125)),
    row::knob(tag::in1_comp_speed, {123, 86, 161, 124}, 1, artwork::unipolar_knob, row::below(117, 125),
              20.0f, 180.0f),
    row::knob(tag::in1_gain, {177, 86, 215, 124}, 1, artwork::unipolar_knob, row::below(171, 125)),
    row::menu(tag::in_a, {12, 59, 102, 71}, 1, 0, 2, 0.5f),  // clear of the panel title

    // Sampler.
    row::button(tag::loop, {13, 77, 56, 91}, 2, artwork::loop_mode, 2, 0.5f),
    row::button(tag::retrigger, {66, 77, 109, 91}, 2, artwork::retrigger_mode, 4, 0.25f),
    row::knob(tag::sampler_pitch, {124, 86, 162, 124}, 2, artwork::bipolar_knob, row::below(117, 125)),
    row::knob(tag::sampler_level, {178, 86, 216, 124}, 2, artwork::unipolar_knob, row::below(171, 125)),
    row::sampleView(tag::sampler, {12, 95, 111, 124}, 2),
    row::sampleName(81, {10, 128, 113, 142}, 2, artwork::drop_down_plate),

    // Synthesizer.
    row::button(tag::filtertype, {279, 142, 330, 154}, 3, artwork::filter_type, 3, 0.33333334f),
    // The readout centred under the wide waveform knob, clear of the noise readout beside it.
    row::knob(tag::waveform, {11, 181, 57, 221}, 3, artwork::wave_knob, row::below(9, 224)),
    row::knob(tag::noise, {69, 185, 107, 223}, 3, artwork::bipolar_knob, row::below(63, 223)),
    row::knob(tag::octave, {123, 179, 153, 189}, 3, artwork::octave_text, row::kNoReadout, 24.0f, -24.0f),
    row::knob(tag::pitchbend_range, {124, 215, 154, 225}, 3, artwork::bend_range_text),
    row::knob(tag::pulswidth, {177, 185, 215, 223}, 3, artwork::bipolar_knob, row::below(171, 224)),
    row::knob(tag::cutoff, {231, 185, 269, 223}, 3, artwork::unipolar_knob, row::below(226, 224)),
    row::knob(tag::resonance, {285, 185, 323, 223}, 3, artwork::unipolar_knob, row::below(280, 224)),
    row::knob(tag::synth_level, {339, 185, 377, 223}, 3, artwork::unipolar_knob, row::below(334, 224)),
    row::menu(tag::synthoff, {121, 156, 221, 168}, 3, 0, 2, 0.5f),

    // Input stage 2.
    row::knob(tag::in2_gate, {15, 185, 53, 223}, 4, artwork::unipolar_knob, row::below(10, 223)),
    row::knob(tag::in2_comp_ratio, {69, 185, 107, 223}, 4, artwork::unipolar_knob, row::below(63, 223)),
    row::knob(tag::in2_comp_speed, {123, 185, 161, 223}, 4, artwork::unipolar_knob, row::below(118, 224),
              20.0f, 180.0f),
    row::knob(tag::in2_gain, {177, 185, 215, 223}, 4, artwork::unipolar_knob, row::below(171, 224)),
    row::menu(tag::in_b, {121, 156, 221, 168}, 4, 0, 2, 0.5f),

    // The effect slot: reverb, delay, phaser, lo-fi.
    row::knob(tag::reverb_room, {339, 284, 377, 322}, 11, artwork::unipolar_knob, row::below(335, 322)),
    row::knob(tag::reverb_damp, {393, 284, 431, 322}, 11, artwork::unipolar_knob, row::below(388, 322)),
    row::knob(tag::reverb_drywet, {447, 284, 485, 322}, 11, artwork::unipolar_knob, row::below(441, 322)),
    row::knob(tag::delaytime, {339, 284, 377, 322}, 12, artwork::unipolar_knob, row::below(335, 322)),
    row::knob(tag::delay_feedback, {393, 284, 431, 322}, 12, artwork::unipolar_knob, row::below(389, 322)),
    row::knob(tag::delay_drywet, {447, 284, 485, 322}, 12, artwork::unipolar_knob, row::below(443, 322)),
    row::knob(tag::phaser_rate, {339, 284, 377, 322}, 13, artwork::unipolar_knob, row::below(335, 322)),
    row::knob(tag::phaser_feedback, {393, 284, 431, 322}, 13, artwork::unipolar_knob, row::below(389, 322)),
    row::knob(tag::phaser_stages, {447, 284, 485, 322}, 13, artwork::unipolar_knob, row::below(443, 322)),
    row::knob(tag::lofi_bitrate, {339, 284, 377, 322}, 14, artwork::unipolar_knob, row::below(334, 322)),
    row::knob(tag::lofi_samplerate, {393, 284, 431, 322}, 14, artwork::unipolar_knob, row::below(388, 322)),
    row::knob(tag::lofi_distortion, {447, 284, 485, 322}, 14, artwork::unipolar_knob, row::below(442, 322)),
});

static_assert(std::ranges::all_of(kLayout, [](const LayoutRow& r) {
    return r.group >= 0 && r.group < static_cast<int>(ViewGroupMask().size());
}));
// Rows compared by value, not through parameterRow's pointer: with the undefined-behaviour
// sanitizer GCC cannot evaluate a null-pointer check at compile time.
static_assert(std::ranges::all_of(kLayout,
                                  [](const LayoutRow& r) {
                                      const bool reads =
                                          std::ranges::any_of(kParameterRows, [&](const ParameterRow& p) {
                                              return p.tag == r.source && p.readout != display::none;
                                          });
                                      return r.kind != ControlKind::Knob || r.readout.empty() != reads;
                                  }),
              "a knob has a readout plate exactly when its parameter says how it reads");

// The groups shown for these choices: the top bar always; with the overlay, its header and
// the chosen sub-page; otherwise the main controls, the analysis input's panel (input
// stage 1, or the sampler for carrier 3), the synthesis input's panel (input stage 2, or
// the synthesizer for modulator 2), the chosen bank's own knob and the effect's slot.
// Derived on the editor's thread from the choices alone, so no other thread writes what the
// editor shows and a page never depends on the order in which choices were set.
inline ViewGroupMask pageGroups(int32_t effect, int32_t carrier, int32_t modulator, int32_t articulate,
                                Overlay overlay) {
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
    groups.set(articulate != 0 ? 15 : 8);
    groups.set(10 + static_cast<std::size_t>(std::clamp(effect, 0, kEffectChoices - 1)));
    return groups;
}

// The entries of the menus without a face bitmap strip of their own, and the words shown on
// those that have one when the strip is missing.
const char* menuEntry(int32_t tag, int index);

}  // namespace kf::editor
