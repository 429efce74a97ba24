// The main page and its panel pictures. Every panel picture is a crop of the whole page drawn
// in the state that shows it, so a picture lines up with the background to the pixel and its
// labels sit over the knobs of the control layout.
#include <cmath>
#include <string_view>

#include "paint.h"
#include "pictures.h"

namespace kf::artgen {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Box {
    double x0, y0, x1, y1;  // left, top, right, bottom (exclusive) in window pixels
};

// Sections of the main page; the gaps between them show the darker chassis.
constexpr Box kCarrier{5, 39, 227, 140};
constexpr Box kBrand{229, 39, 330, 140};
constexpr Box kVocoder{332, 39, 498, 140};
constexpr Box kModulator{5, 142, 389, 239};
constexpr Box kMaster{391, 142, 498, 239};
constexpr Box kOutput{5, 241, 331, 337};
constexpr Box kEffect{333, 241, 498, 337};

constexpr Rgb kChassis = rgb(0x17181b);

void section(cairo_t* cr, const Box& b) {
    const double w = b.x1 - b.x0, h = b.y1 - b.y0;
    setColour(cr, colour::kEdgeDark);
    roundRect(cr, b.x0, b.y0, w, h, 3);
    cairo_fill(cr);
    setColour(cr, colour::kPanel);
    roundRect(cr, b.x0 + 1, b.y0 + 1, w - 2, h - 2, 2.5);
    cairo_fill(cr);
    // Light catches the top edge.
    setColour(cr, colour::kEdgeLight, 0.7);
    cairo_rectangle(cr, b.x0 + 3, b.y0 + 1, w - 6, 1);
    cairo_fill(cr);
}

// A row of knob captions, centred on the knob centres, baseline y.
void captions(cairo_t* cr, std::initializer_list<std::pair<std::string_view, double>> row, double y) {
    for (const auto& [s, x] : row) label(cr, s, x, y);
}

void subTitle(cairo_t* cr, std::string_view s, double right, double y) {
    text(cr, s, right, y, 8, colour::kLabelDim, Align::Right);
}

// --- the top bar -------------------------------------------------------------------------

void topBar(cairo_t* cr) {
    fillRect(cr, 0, 0, 503, 37, colour::kPanelDark);
    fillRect(cr, 0, 36, 503, 1, colour::kEdgeDark);
    text(cr, "Kestrafone", 11, 23, 20, colour::kPointer, Align::Left, true);
    text(cr, "TALLOW MILL", 12, 33, 7.5, colour::kAccent, Align::Left, true);
    text(cr, "32-BAND STEREO VOCODER", 68, 33, 7.5, colour::kLabelDim, Align::Left);
    // The preset field and the info button sit in wells cut into the bar.
    text(cr, "preset", 220, 13, 8, colour::kLabelDim, Align::Right);
    well(cr, 224, 2, 105, 15, 2);
    well(cr, 226, 21, 102, 12, 2);
    // Lamps: MIDI learn armed; the levels of the analysis and synthesis inputs and the outputs.
    struct Lamp {
        double x;
        std::string_view name;
    };
    constexpr Lamp kLamps[] = {{355, "learn"}, {401, "ana"}, {425, "syn"}, {456, "out L"}, {479, "out R"}};
    for (const Lamp& l : kLamps) {
        setColour(cr, colour::kEdgeDark);
        cairo_arc(cr, l.x + 5, 27, 6, 0, 2 * kPi);
        cairo_fill(cr);
        text(cr, l.name, l.x + 5, 18, 7, colour::kLabelDim);
    }
    setColour(cr, colour::kEdgeLight, 0.5);
    cairo_rectangle(cr, 390, 8, 1, 26);
    cairo_fill(cr);
    text(cr, "LEVELS", 445, 9, 6.5, colour::kLabelDim, Align::Centre, true);
}

// --- sections ------------------------------------------------------------------------------

void carrierFrame(cairo_t* cr) {
    section(cr, kCarrier);
    text(cr, "ANALYSIS", 11, 53, 9, colour::kAccent, Align::Left, true);
    text(cr, "source", 119, 53, 8, colour::kLabelDim, Align::Right);
}

void inputStage1(cairo_t* cr) {
    subTitle(cr, "input stage 1", 220, 68);
    captions(cr, {{"gate", 34}, {"ratio", 88}, {"speed", 142}, {"gain", 196}}, 82);
}

void sampler(cairo_t* cr) {
    subTitle(cr, "sampler", 220, 68);
    captions(cr, {{"loop", 34.5}, {"trigger", 87.5}}, 74);
    captions(cr, {{"pitch", 143}, {"level", 197}}, 82);
    // The sample view's frame, one pixel outside its rectangle 12,95 - 111,124.
    well(cr, 11, 94, 101, 31, 2);
}

// The emblem's well and its 32 bars, bar i `height(i)` pixels tall: lit in the amber gradient
// of a meter, or unlit (the dim slots of the live display's idle bands).
template <class Height>
void emblem(cairo_t* cr, Height height, bool lit) {
    using namespace artwork::bands;
    well(cr, kWellLeft, kWellTop, kWellWidth, kWellHeight, 2);
    for (int i = 0; i < 32; ++i) {
        const double x = kFirstBarX + i * kBarPitch, h = height(i);
        if (lit) {
            cairo_pattern_t* g = cairo_pattern_create_linear(0, kBarsBottom, 0, kBarsBottom - kBarsHeight);
            cairo_pattern_add_color_stop_rgb(g, 0, colour::kAccentDim.r, colour::kAccentDim.g,
                                             colour::kAccentDim.b);
            cairo_pattern_add_color_stop_rgb(g, 1, colour::kAccent.r, colour::kAccent.g, colour::kAccent.b);
            cairo_set_source(cr, g);
            cairo_rectangle(cr, x, kBarsBottom - h, kBarWidth, h);
            cairo_fill(cr);
            cairo_pattern_destroy(g);
        } else {
            setColour(cr, colour::kAccentDim, 0.3);
            cairo_rectangle(cr, x, kBarsBottom - h, kBarWidth, h);
            cairo_fill(cr);
        }
    }
}

void brand(cairo_t* cr) {
    section(cr, kBrand);
    // A stylised band spectrum: 32 bars under a formant-like curve, the instrument's emblem.
    emblem(
        cr,
        [](int i) {
            const double t = i / 31.0;
            return 6 + 40 * (0.55 * std::exp(-std::pow((t - 0.22) / 0.12, 2)) +
                             0.40 * std::exp(-std::pow((t - 0.58) / 0.10, 2)) +
                             0.25 * std::exp(-std::pow((t - 0.86) / 0.07, 2)));
        },
        true);
    text(cr, "32 BANDS", 279.5, 119, 9, colour::kLabel, Align::Centre, true);
    text(cr, "stereo vocoder", 279.5, 131, 8, colour::kLabelDim);
}

void vocoder(cairo_t* cr) {
    section(cr, kVocoder);
    text(cr, "VOCODER", 338, 53, 9, colour::kAccent, Align::Left, true);
    // The bank menu sits at 411..491 in the title row, as the source menus do in theirs.
    text(cr, "bank", 406, 53, 8, colour::kLabelDim, Align::Right);
    captions(cr, {{"focus", 358}, {"shift", 412}, {"response", 466}}, 82);
}

void modulatorFrame(cairo_t* cr) {
    section(cr, kModulator);
    text(cr, "SYNTHESIS", 11, 153, 9, colour::kAccent, Align::Left, true);
    text(cr, "source", 119, 153, 8, colour::kLabelDim, Align::Right);
}

void synth(cairo_t* cr) {
    text(cr, "filter", 274, 153, 8, colour::kLabelDim, Align::Right);
    subTitle(cr, "synthesizer", 383, 153);
    captions(cr, {{"wave", 34}, {"noise", 88}, {"pw", 196}, {"cutoff", 250}, {"reso", 304}, {"level", 358}},
             180);
    captions(cr, {{"octave", 138}}, 176);
    captions(cr, {{"bend", 139}}, 212);
    // A bracket ties the filter's two knobs to its type switch above them.
    setColour(cr, colour::kEdgeLight);
    cairo_rectangle(cr, 250, 166, 55, 1);
    cairo_rectangle(cr, 250, 166, 1, 4);
    cairo_rectangle(cr, 304, 166, 1, 4);
    cairo_rectangle(cr, 277, 156, 1, 10);
    cairo_fill(cr);
}

void inputStage2(cairo_t* cr) {
    subTitle(cr, "input stage 2", 383, 153);
    captions(cr, {{"gate", 34}, {"ratio", 88}, {"speed", 142}, {"gain", 196}}, 182);
    const std::string_view kNotes[] = {"prepares the sound that is", "shaped: a gate, a compressor",
                                       "and a gain stage before the", "32 synthesis bands."};
    double y = 188;
    for (std::string_view s : kNotes) {
        text(cr, s, 240, y, 8, colour::kLabelDim, Align::Left);
        y += 11;
    }
}

void master(cairo_t* cr) {
    section(cr, kMaster);
    text(cr, "MASTER", 397, 153, 9, colour::kAccent, Align::Left, true);
    subTitle(cr, "output", 492, 153);
    captions(cr, {{"level", 466}}, 180);
}

void output(cairo_t* cr) {
    section(cr, kOutput);
    sectionTitle(cr, "MIX", 11, 251, 58);
    sectionTitle(cr, "EQUALISER", 65, 251, 220);
    sectionTitle(cr, "COMPRESSOR", 228, 251, 326);
    captions(cr, {{"mix", 34}, {"low", 88}, {"mid", 142}, {"high", 196}, {"comp", 251}, {"speed", 305}}, 281);
}

void effectFrame(cairo_t* cr) {
    section(cr, kEffect);
    text(cr, "EFFECT", 339, 251, 9, colour::kAccent, Align::Left, true);
}

// The knob captions of an effect panel (knob centres 358, 412, 466) with a line about it.
void effect(cairo_t* cr, std::string_view about, std::string_view a, std::string_view b, std::string_view c) {
    subTitle(cr, about, 491, 267);
    captions(cr, {{a, 358}, {b, 412}, {c, 466}}, 281);
}

void noEffect(cairo_t* cr) {
    text(cr, "no effect", 415, 291, 11, colour::kLabelDim, Align::Centre, true);
    text(cr, "choose one from the menu", 415, 305, 8, colour::kLabelDim);
}

void keybed(cairo_t* cr) {
    // Wheel wells, the transpose block and the keyboard's bed.
    setColour(cr, colour::kEdgeDark);
    roundRect(cr, 126, 336, 368, 68, 2);
    cairo_fill(cr);
    text(cr, "bend", 22, 403, 7, colour::kLabelDim);
    text(cr, "mod", 55, 403, 7, colour::kLabelDim);
    text(cr, "octave", 99.5, 403, 7, colour::kLabelDim);
}

enum class Carrier { None, Input1, Sampler };
enum class Modulator { None, Synth, Input2 };
enum class Effect { None, NoEffect, Delay, Reverb, Phaser, Retro };

void page(cairo_t* cr, Carrier c, Modulator m, Effect e) {
    fillRect(cr, 0, 0, 503, 404, kChassis);
    topBar(cr);
    carrierFrame(cr);
    if (c == Carrier::Input1) inputStage1(cr);
    if (c == Carrier::Sampler) sampler(cr);
    brand(cr);
    vocoder(cr);
    modulatorFrame(cr);
    if (m == Modulator::Synth) synth(cr);
    if (m == Modulator::Input2) inputStage2(cr);
    master(cr);
    output(cr);
    effectFrame(cr);
    switch (e) {
        case Effect::None:
            break;
        case Effect::NoEffect:
            noEffect(cr);
            break;
        case Effect::Delay:
            effect(cr, "tempo echo", "time", "feedback", "dry/wet");
            break;
        case Effect::Reverb:
            effect(cr, "space", "room", "damp", "dry/wet");
            break;
        case Effect::Phaser:
            effect(cr, "tempo sweep", "rate", "feedback", "stages");
            break;
        case Effect::Retro:
            effect(cr, "lo-fi", "bits", "rate", "drive");
            break;
    }
    keybed(cr);
}

// A picture that is the page's rectangle at (x, y) in the given state.
void crop(cairo_t* cr, double x, double y, Carrier c, Modulator m, Effect e) {
    cairo_save(cr);
    cairo_translate(cr, -x, -y);
    page(cr, c, m, e);
    cairo_restore(cr);
}

}  // namespace

void drawBackground(cairo_t* cr, const Frame&) {
    // Under the carrier and effect areas a picture always lies; the synthesizer has none.
    page(cr, Carrier::None, Modulator::Synth, Effect::None);
}
void drawInput1Panel(cairo_t* cr, const Frame&) {
    crop(cr, 8, 58, Carrier::Input1, Modulator::Synth, Effect::None);
}
void drawSamplerPanel(cairo_t* cr, const Frame&) {
    crop(cr, 8, 58, Carrier::Sampler, Modulator::Synth, Effect::None);
}
void drawInput2Panel(cairo_t* cr, const Frame&) {
    crop(cr, 5, 136, Carrier::None, Modulator::Input2, Effect::None);
}
void drawNoEffectPanel(cairo_t* cr, const Frame&) {
    crop(cr, 332, 256, Carrier::None, Modulator::Synth, Effect::NoEffect);
}
void drawDelayPanel(cairo_t* cr, const Frame&) {
    crop(cr, 332, 256, Carrier::None, Modulator::Synth, Effect::Delay);
}
void drawReverbPanel(cairo_t* cr, const Frame&) {
    crop(cr, 332, 256, Carrier::None, Modulator::Synth, Effect::Reverb);
}
void drawPhaserPanel(cairo_t* cr, const Frame&) {
    crop(cr, 332, 256, Carrier::None, Modulator::Synth, Effect::Phaser);
}
void drawBandDisplay(cairo_t* cr, const Frame& f) {
    using namespace artwork::bands;
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanel);
    if (f.index == 0) {
        // The articulate bank's knob takes the third knob's place: its caption, centred
        // where the classic caption is (466, 82), at the picture's top-left.
        cairo_save(cr);
        cairo_translate(cr, -(466 - kCaptionWidth / 2), -(82 - 10));
        label(cr, "consonants", 466, 82);
        cairo_restore(cr);
    }
    cairo_save(cr);
    cairo_translate(cr, -kWellLeft, -(kWellTop - kWellInFrame));
    emblem(
        cr, [](int) { return double(kBarsHeight); }, f.index == 1);
    cairo_restore(cr);
}
void drawRetroPanel(cairo_t* cr, const Frame&) {
    crop(cr, 332, 256, Carrier::None, Modulator::Synth, Effect::Retro);
}

}  // namespace kf::artgen
