// Text strips, buttons, menu faces, readout plates and the small placeholders.
#include <array>
#include <string_view>

#include "artwork/artwork.h"
#include "paint.h"
#include "pictures.h"

namespace kf::artgen {
namespace {

template <std::size_t N>
std::string_view pick(const std::array<std::string_view, N>& names, const Frame& f) {
    return names[static_cast<std::size_t>(f.index) % N];
}

// A push button: frame 0 at rest (grey face, dim lamp), frame 1 engaged (amber lamp, lit text).
void button(cairo_t* cr, const Frame& f, std::string_view name, bool on, Rgb ground = colour::kPanel) {
    fillRect(cr, 0, 0, f.width, f.height, ground);
    if (on)
        plate(cr, 0, 0, f.width, f.height, rgb(0x5a4a2e), rgb(0x3e3222));
    else
        plate(cr, 0, 0, f.width, f.height, rgb(0x4e535b), rgb(0x393d43));
    const double size = f.height <= 10 ? 8.0 : 9.0;
    textIn(cr, name, 0, 0, f.width, f.height, size, on ? colour::kAccent : colour::kLabel, true);
}

// A selector face: one choice of several, amber text on a dark field.
void selector(cairo_t* cr, const Frame& f, std::string_view name) {
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanel);
    well(cr, 0, 0, f.width, f.height, 2);
    textIn(cr, name, 0, 0, f.width, f.height, 8.5, colour::kAccent, true);
}

// An option menu's face: the choice on the left, a drop-down arrow on the right. The second
// variant is the face while the menu is pressed open.
void menuFace(cairo_t* cr, const Frame& f, std::string_view name, bool pressed) {
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanel);
    well(cr, 0, 0, f.width, f.height, 2);
    if (pressed) {
        setColour(cr, colour::kAccent, 0.18);
        roundRect(cr, 1, 1, f.width - 1, f.height - 1, 1);
        cairo_fill(cr);
    }
    text(cr, name, 5, f.height - 2.8, 9, pressed ? colour::kPointer : colour::kLabel, Align::Left);
    const double ax = f.width - 8, ay = f.height / 2.0;
    setColour(cr, colour::kAccent);
    cairo_move_to(cr, ax - 3, ay - 1.5);
    cairo_line_to(cr, ax + 3, ay - 1.5);
    cairo_line_to(cr, ax, ay + 2);
    cairo_close_path(cr);
    cairo_fill(cr);
}

constexpr std::array<std::string_view, 5> kEffects{"none", "reverb", "delay", "phaser", "retro"};
constexpr std::array<std::string_view, 3> kModulators{"input A", "input B", "synth"};
constexpr std::array<std::string_view, 4> kCarriers{"input A", "input B", "A | B stereo", "sampler"};

void effectMenu(cairo_t* cr, const Frame& f) {
    menuFace(cr, f, pick(kEffects, f), false);
}
void effectMenuPressed(cairo_t* cr, const Frame& f) {
    menuFace(cr, f, pick(kEffects, f), true);
}
void modulatorMenu(cairo_t* cr, const Frame& f) {
    menuFace(cr, f, pick(kModulators, f), false);
}
void modulatorMenuPressed(cairo_t* cr, const Frame& f) {
    menuFace(cr, f, pick(kModulators, f), true);
}
void carrierMenu(cairo_t* cr, const Frame& f) {
    menuFace(cr, f, pick(kCarriers, f), false);
}
void carrierMenuPressed(cairo_t* cr, const Frame& f) {
    menuFace(cr, f, pick(kCarriers, f), true);
}

void filterType(cairo_t* cr, const Frame& f) {
    constexpr std::array<std::string_view, 3> kTypes{"HP", "BP", "LP"};
    selector(cr, f, pick(kTypes, f));
}
void loopMode(cairo_t* cr, const Frame& f) {
    constexpr std::array<std::string_view, 2> kModes{"ONCE", "LOOP"};
    selector(cr, f, pick(kModes, f));
}
void retrigger(cairo_t* cr, const Frame& f) {
    constexpr std::array<std::string_view, 4> kSources{"VELO", "LOW", "MONO", "HOST"};
    selector(cr, f, pick(kSources, f));
}

// Knob-driven text: the value a stepped knob stands on, in readout colours.
void valueText(cairo_t* cr, const Frame& f, std::string_view s) {
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanel);
    setColour(cr, colour::kPanelDark);
    roundRect(cr, 0, 0, f.width, f.height, 2);
    cairo_fill(cr);
    textIn(cr, s, 0, 0, f.width, f.height, 8.5, colour::kReadout, true);
}
void octaveText(cairo_t* cr, const Frame& f) {
    constexpr std::array<std::string_view, 5> kOctaves{"-24", "-12", "0", "+12", "+24"};
    valueText(cr, f, pick(kOctaves, f));
}
void bendRangeText(cairo_t* cr, const Frame& f) {
    constexpr std::array<std::string_view, 13> kRanges{"0", "1", "2", "3",  "4",  "5", "6",
                                                       "7", "8", "9", "10", "11", "12"};
    valueText(cr, f, pick(kRanges, f));
}
void baseKeyText(cairo_t* cr, const Frame& f) {
    // Frame k is a lowest key of note 12k: its name in scientific pitch (middle C, note 60, is C4).
    constexpr std::array<std::string_view, 7> kNames{"C-1", "C0", "C1", "C2", "C3", "C4", "C5"};
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanel);
    well(cr, 0, 0, f.width, f.height, 2);
    textIn(cr, pick(kNames, f), 0, 0, f.width, f.height, 9, colour::kReadout, true);
}

void readoutPlate(cairo_t* cr, const Frame& f) {
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanel);
    well(cr, 0, 0, f.width, f.height, 2);
}

void presetField(cairo_t* cr, const Frame& f) {
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanelDark);
    well(cr, 0, 0, f.width, f.height, 2);
    const double ax = f.width - 8, ay = f.height / 2.0;
    setColour(cr, colour::kAccent);
    cairo_move_to(cr, ax - 3, ay - 1.5);
    cairo_line_to(cr, ax + 3, ay - 1.5);
    cairo_line_to(cr, ax, ay + 2);
    cairo_close_path(cr);
    cairo_fill(cr);
}

void basicsButton(cairo_t* cr, const Frame& f) {
    button(cr, f, "BASICS", f.index == 1);
}
void manualButton(cairo_t* cr, const Frame& f) {
    button(cr, f, "MANUAL", f.index == 1);
}
void tipsButton(cairo_t* cr, const Frame& f) {
    button(cr, f, "TIPS", f.index == 1);
}
void infoButton(cairo_t* cr, const Frame& f) {
    button(cr, f, "INFO", f.index == 1, colour::kPanelDark);
}

void arrowButton(cairo_t* cr, const Frame& f, bool up) {
    const bool held = f.index == 1;
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanel);
    if (held)
        plate(cr, 0, 0, f.width, f.height, rgb(0x3a3d43), rgb(0x4a4f57));
    else
        plate(cr, 0, 0, f.width, f.height, rgb(0x4e535b), rgb(0x393d43));
    const double cx = f.width / 2.0, cy = f.height / 2.0 + (held ? 0.5 : 0);
    setColour(cr, held ? colour::kAccent : colour::kLabel);
    const double d = up ? -1 : 1;
    cairo_move_to(cr, cx - 5, cy - 2.5 * d);
    cairo_line_to(cr, cx + 5, cy - 2.5 * d);
    cairo_line_to(cr, cx, cy + 3.5 * d);
    cairo_close_path(cr);
    cairo_fill(cr);
}
void upButton(cairo_t* cr, const Frame& f) {
    arrowButton(cr, f, true);
}
void downButton(cairo_t* cr, const Frame& f) {
    arrowButton(cr, f, false);
}

// The sample view's well with a sketched sample or the empty state.
void sampleWell(cairo_t* cr, const Frame& f, bool loaded) {
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanel);
    well(cr, 0, 0, f.width, 31, 2);
    well(cr, 0, 33, f.width, 16, 2);
    if (loaded) {
        setColour(cr, colour::kReadout, 0.8);
        for (int x = 3; x < f.width - 3; ++x) {
            const double env =
                12.0 * (1.0 - (x - 3.0) / (f.width - 6.0)) * (0.55 + 0.45 * ((x * 7) % 5) / 4.0);
            cairo_rectangle(cr, x, 15.5 - env, 1, 2 * env);
        }
        cairo_fill(cr);
    } else {
        textIn(cr, "click to load", 0, 0, f.width, 31, 8.5, colour::kLabelDim);
    }
}
void sampleLoaded(cairo_t* cr, const Frame& f) {
    sampleWell(cr, f, true);
}
void sampleEmpty(cairo_t* cr, const Frame& f) {
    sampleWell(cr, f, false);
}

// Ids no control draws; kept as plain panel pieces so that every id loads.
void blank(cairo_t* cr, const Frame& f) {
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanel);
}

void namePlate(cairo_t* cr, const Frame& f) {
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanelDark);
    text(cr, "Kestrafone", 4, 19, 18, colour::kPointer, Align::Left, true);
    text(cr, "TALLOW MILL", f.width - 4, 18, 8, colour::kAccent, Align::Right, true);
}

}  // namespace

// Defined in panels.cpp.
void drawBackground(cairo_t* cr, const Frame& f);
void drawInput2Panel(cairo_t* cr, const Frame& f);
void drawInput1Panel(cairo_t* cr, const Frame& f);
void drawSamplerPanel(cairo_t* cr, const Frame& f);
void drawDelayPanel(cairo_t* cr, const Frame& f);
void drawReverbPanel(cairo_t* cr, const Frame& f);
void drawPhaserPanel(cairo_t* cr, const Frame& f);
void drawRetroPanel(cairo_t* cr, const Frame& f);
void drawBandDisplay(cairo_t* cr, const Frame& f);
void drawNoEffectPanel(cairo_t* cr, const Frame& f);
void drawOverlayHeader(cairo_t* cr, const Frame& f);
void drawSignalFlowPage(cairo_t* cr, const Frame& f);
void drawTipsPage(cairo_t* cr, const Frame& f);

DrawFn pictureFor(artwork::Bitmap id) {
    switch (id) {
        case artwork::background:
            return drawBackground;
        case artwork::meter_led:
            return drawMeterLed;
        case artwork::basics_button:
            return basicsButton;
        case artwork::black_key:
            return drawBlackKey;
        case artwork::delay_panel:
            return drawDelayPanel;
        case artwork::readout_plate:
            return readoutPlate;
        case artwork::filter_type:
            return filterType;
        case artwork::effect_menu:
            return effectMenu;
        case artwork::effect_menu_pressed:
            return effectMenuPressed;
        case artwork::modulator_menu:
            return modulatorMenu;
        case artwork::carrier_menu:
            return carrierMenu;
        case artwork::modulator_menu_pressed:
            return modulatorMenuPressed;
        case artwork::carrier_menu_pressed:
            return carrierMenuPressed;
        case artwork::input2_panel:
            return drawInput2Panel;
        case artwork::input1_panel:
            return drawInput1Panel;
        case artwork::learn_led:
            return drawIndicatorLed;
        case artwork::sample_loaded:
            return sampleLoaded;
        case artwork::sample_empty:
            return sampleEmpty;
        case artwork::manual_button:
            return manualButton;
        case artwork::octave_text:
            return octaveText;
        case artwork::no_effect_panel:
            return drawNoEffectPanel;
        case artwork::loop_mode:
            return loopMode;
        case artwork::bend_range_text:
            return bendRangeText;
        case artwork::phaser_panel:
            return drawPhaserPanel;
        case artwork::retrigger_mode:
            return retrigger;
        case artwork::lofi_panel:
            return drawRetroPanel;
        case artwork::reverb_panel:
            return drawReverbPanel;
        case artwork::band_display:
            return drawBandDisplay;
        case artwork::sampler_panel:
            return drawSamplerPanel;
        case artwork::drop_down_plate:
            return presetField;
        case artwork::info_button:
            return infoButton;
        case artwork::basics_page:
            return drawSignalFlowPage;
        case artwork::tips_button:
            return tipsButton;
        case artwork::tips_page:
            return drawTipsPage;
        case artwork::base_key_text:
            return baseKeyText;
        case artwork::up_button:
            return upButton;
        case artwork::down_button:
            return downButton;
        case artwork::unipolar_knob:
            return drawUnipolarKnob;
        case artwork::bipolar_knob:
            return drawBipolarKnob;
        case artwork::wave_knob:
            return drawWaveKnob;
        case artwork::name_plate:
            return namePlate;
        case artwork::wheel:
            return drawWheel;
        case artwork::white_key_cut_right:
            return drawWhiteKeyC;
        case artwork::white_key_cut_both:
            return drawWhiteKeyD;
        case artwork::white_key_cut_left:
            return drawWhiteKeyE;
        case artwork::overlay_header:
            return drawOverlayHeader;
        default:
            return blank;  // the spares
    }
}

}  // namespace kf::artgen
