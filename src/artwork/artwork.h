// The editor's bitmaps: 49 PNG pictures, ids 1000 to 1048, compiled into the module so that the
// plug-in needs no loose files. They are drawn by the generator in generator/ and committed under
// resources/artwork/; the build turns those files into byte arrays.
#pragma once

#include <array>
#include <span>

namespace kf::artwork {

// Every bitmap by name. The value is its id, which also names its file (resources/artwork/
// <id>.png); the layout, the controls and the generator all speak of bitmaps by these names.
enum Bitmap : int {
    background = 1000,
    meter_led = 1001,
    basics_button = 1002,
    black_key = 1003,
    delay_panel = 1004,
    readout_plate = 1005,
    filter_type = 1006,
    effect_menu = 1007,
    effect_menu_pressed = 1008,
    modulator_menu = 1009,
    carrier_menu = 1010,
    modulator_menu_pressed = 1011,
    carrier_menu_pressed = 1012,
    input2_panel = 1013,
    input1_panel = 1014,
    learn_led = 1015,
    sample_loaded = 1016,
    sample_empty = 1017,
    manual_button = 1018,
    spare_1019 = 1019,  // the spares are plain panel pieces no control draws
    octave_text = 1020,
    no_effect_panel = 1021,
    loop_mode = 1022,
    bend_range_text = 1023,
    phaser_panel = 1024,
    spare_1025 = 1025,
    retrigger_mode = 1026,
    lofi_panel = 1027,
    reverb_panel = 1028,
    band_display = 1029,  // see namespace bands
    sampler_panel = 1030,
    drop_down_plate = 1031,  // the preset field and the sample's name
    info_button = 1032,
    basics_page = 1033,
    tips_button = 1034,
    tips_page = 1035,
    base_key_text = 1036,
    up_button = 1037,
    down_button = 1038,
    unipolar_knob = 1039,
    bipolar_knob = 1040,
    wave_knob = 1041,
    spare_1042 = 1042,
    name_plate = 1043,
    wheel = 1044,
    // White keys by the side(s) a black key cuts away: C and F on the right, D, G and A on
    // both, E and B on the left.
    white_key_cut_right = 1045,
    white_key_cut_both = 1046,
    white_key_cut_left = 1047,
    overlay_header = 1048,
};

inline constexpr int kFirstId = background, kLastId = overlay_header;
inline constexpr int kCount = kLastId - kFirstId + 1;

// A bitmap's size; a strip of `frames` pictures stacked vertically has frames of
// width × (height / frames), frame k starting at y = k × height / frames.
struct BitmapInfo {
    Bitmap id;
    int width, height, frames;  // frames = 1 for a single picture
};

// The one table of sizes and strip layouts: the generator draws to it, the tests check the
// embedded pictures against it, and the editor cuts strips by it.
inline constexpr std::array<BitmapInfo, kCount> kBitmaps{{
    {background, 503, 404, 1},
    {meter_led, 10, 80, 8},
    {basics_button, 100, 30, 2},
    {black_key, 10, 80, 2},
    {delay_panel, 161, 69, 1},
    {readout_plate, 50, 14, 1},
    {filter_type, 51, 36, 3},
    {effect_menu, 90, 60, 5},
    {effect_menu_pressed, 90, 60, 5},
    {modulator_menu, 90, 36, 3},
    {carrier_menu, 90, 48, 4},
    {modulator_menu_pressed, 90, 36, 3},
    {carrier_menu_pressed, 90, 48, 4},
    {input2_panel, 389, 95, 1},
    {input1_panel, 216, 69, 1},
    {learn_led, 10, 20, 2},
    {sample_loaded, 99, 51, 1},
    {sample_empty, 99, 51, 1},
    {manual_button, 100, 30, 2},
    {spare_1019, 40, 42, 1},
    {octave_text, 30, 50, 5},
    {no_effect_panel, 161, 69, 1},
    {loop_mode, 43, 28, 2},
    {bend_range_text, 30, 130, 13},
    {phaser_panel, 161, 69, 1},
    {spare_1025, 16, 32, 2},
    {retrigger_mode, 43, 56, 4},
    {lofi_panel, 161, 69, 1},
    {reverb_panel, 161, 69, 1},
    {band_display, 168, 238, 2},
    {sampler_panel, 215, 71, 1},
    {drop_down_plate, 103, 14, 1},
    {info_button, 100, 20, 2},
    {basics_page, 495, 273, 1},
    {tips_button, 100, 30, 2},
    {tips_page, 495, 273, 1},
    {base_key_text, 29, 91, 7},
    {up_button, 35, 46, 2},
    {down_button, 35, 46, 2},
    {unipolar_knob, 38, 4864, 128},
    {bipolar_knob, 38, 4864, 128},
    {wave_knob, 46, 5120, 128},
    {spare_1042, 40, 70, 1},
    {name_plate, 185, 26, 1},
    {wheel, 16, 7936, 128},
    {white_key_cut_right, 13, 130, 2},
    {white_key_cut_both, 13, 130, 2},
    {white_key_cut_left, 13, 130, 2},
    {overlay_header, 495, 96, 1},
}};

// The live band display in the emblem's well, in window pixels. Bitmap band_display holds in
// each of its two frames the well at (0, kWellInFrame): frame 0 with every bar unlit, frame 1
// with every bar lit to full height. Above the well, frame 0 also carries the caption of the
// articulate bank's knob (kCaption wide, kWellInFrame tall), drawn over the classic caption.
namespace bands {
inline constexpr int kWellLeft = 236, kWellTop = 47, kWellWidth = 87, kWellHeight = 58;
inline constexpr int kWellInFrame = 14, kCaptionWidth = 50;
// Bar k spans x from kFirstBarX + k·kBarPitch, kBarWidth wide, standing on kBarsBottom and
// at most kBarsHeight tall.
inline constexpr double kFirstBarX = 239.5, kBarPitch = 2.6, kBarWidth = 1.8;
inline constexpr int kBarsBottom = 102, kBarsHeight = 46;
}  // namespace bands

// The size and layout of bitmap `id`; nullptr outside kFirstId..kLastId.
const BitmapInfo* info(int id);
// The pictures stacked in bitmap `id` (1 for an unknown id), and the height of one (0).
int frameCount(int id);
int frameHeight(int id);

// The embedded PNG file of bitmap `id`; empty outside kFirstId..kLastId.
std::span<const unsigned char> png(int id);

}  // namespace kf::artwork
