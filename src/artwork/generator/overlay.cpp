// The overlay page: its header with the page buttons' frame, the signal-flow page and the tips.
// The header sits at 5,37 and the two pages at 5,132 of the window.
#include <string_view>

#include "paint.h"
#include "pictures.h"

namespace kf::artgen {
namespace {

constexpr Rgb kSheet = rgb(0x24272b);  // the overlay's paper, a shade under the main panels

void sheet(cairo_t* cr, const Frame& f) {
    fillRect(cr, 0, 0, f.width, f.height, kSheet);
}

// A block of the diagram: a title and an optional second line, amber edge for the vocoder core.
void block(cairo_t* cr, double x, double y, double w, double h, std::string_view title,
           std::string_view line2 = {}, bool core = false) {
    setColour(cr, core ? colour::kAccent : colour::kEdgeLight);
    roundRect(cr, x, y, w, h, 3);
    cairo_fill(cr);
    setColour(cr, core ? rgb(0x3a2f1c) : colour::kPanel);
    roundRect(cr, x + 1, y + 1, w - 2, h - 2, 2);
    cairo_fill(cr);
    if (line2.empty()) {
        textIn(cr, title, x, y, w, h, 9, core ? colour::kAccent : colour::kPointer, true);
    } else {
        text(cr, title, x + w / 2, y + h / 2 - 1, 9, core ? colour::kAccent : colour::kPointer, Align::Centre,
             true);
        text(cr, line2, x + w / 2, y + h / 2 + 9, 7.5, colour::kLabelDim);
    }
}

// A connection with an arrowhead at its end: a polyline through the given points.
void arrow(cairo_t* cr, std::initializer_list<std::pair<double, double>> pts) {
    setColour(cr, colour::kAccent, 0.75);
    cairo_set_line_width(cr, 1.2);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    bool first = true;
    double px = 0, py = 0, x = 0, y = 0;
    for (const auto& [a, b] : pts) {
        px = x;
        py = y;
        x = a;
        y = b;
        if (first)
            cairo_move_to(cr, x, y);
        else
            cairo_line_to(cr, x, y);
        first = false;
    }
    cairo_stroke(cr);
    // The head points along the last segment, which is horizontal or vertical.
    const double dx = x > px ? 1 : (x < px ? -1 : 0), dy = y > py ? 1 : (y < py ? -1 : 0);
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, x - 5 * dx - 3 * dy, y - 5 * dy - 3 * dx);
    cairo_line_to(cr, x - 5 * dx + 3 * dy, y - 5 * dy + 3 * dx);
    cairo_close_path(cr);
    cairo_fill(cr);
}

void pageTitle(cairo_t* cr, std::string_view title, std::string_view about) {
    text(cr, title, 12, 18, 11, colour::kAccent, Align::Left, true);
    text(cr, about, 483, 18, 8, colour::kLabelDim, Align::Right);
    setColour(cr, colour::kEdgeLight, 0.8);
    cairo_rectangle(cr, 12, 24, 471, 1);
    cairo_fill(cr);
}

}  // namespace

void drawOverlayHeader(cairo_t* cr, const Frame& f) {
    sheet(cr, f);
    setColour(cr, colour::kEdgeLight, 0.8);
    cairo_rectangle(cr, 0, 0, f.width, 1);
    cairo_fill(cr);
    // Name, maker and version on the left.
    text(cr, "Kestrafone", 14, 40, 26, colour::kPointer, Align::Left, true);
    text(cr, "TALLOW MILL", 15, 56, 8.5, colour::kAccent, Align::Left, true);
    text(cr, "version 1.0.0", 15, 72, 8.5, colour::kLabelDim, Align::Left);
    text(cr, "32-band stereo vocoder", 15, 86, 8.5, colour::kLabel, Align::Left);
    // The page buttons' frame: buttons at 227..327 x 77..128 of the window, here 222..322 x 40..91.
    well(cr, 216, 30, 112, 64, 3);
    text(cr, "PAGES", 272, 25, 8, colour::kLabelDim, Align::Centre, true);
    // What the pages hold, on the right.
    struct Entry {
        std::string_view head, line;
    };
    constexpr Entry kPages[] = {
        {"BASICS", "how the sound flows"}, {"TIPS", "mouse short-cuts"}, {"MANUAL", "the full manual"}};
    double y = 48;
    for (const Entry& e : kPages) {
        text(cr, e.head, 344, y, 8, colour::kAccent, Align::Left, true);
        text(cr, e.line, 390, y, 8.5, colour::kLabel, Align::Left);
        y += 18;
    }
}

void drawSignalFlowPage(cairo_t* cr, const Frame& f) {
    sheet(cr, f);
    pageTitle(cr, "SIGNAL FLOW", "how the sound travels through the instrument");
    block(cr, 12, 62, 70, 110, "inputs", "A and B");
    // Stage 1 lowers what rises over its gate and passes what stays under it: no noise gate.
    block(cr, 102, 36, 92, 34, "input stage 1", "gain · ducks over gate");
    block(cr, 102, 78, 92, 28, "sampler", "notes · transport");
    block(cr, 102, 118, 92, 34, "input stage 2", "gate · comp · gain");
    block(cr, 102, 160, 92, 28, "synthesizer", "MIDI notes");
    block(cr, 214, 36, 90, 70, "ANALYSIS", "A · B · A|B · sampler");
    block(cr, 214, 118, 90, 70, "SYNTHESIS", "A · B · synth");
    block(cr, 324, 36, 78, 70, "analysis bank", "32 band levels");
    block(cr, 324, 118, 78, 70, "synthesis bank", "32 band filters");
    block(cr, 422, 36, 61, 152, "VOCODER", "", true);
    text(cr, "focus", 452.5, 132, 8, colour::kLabel);
    text(cr, "shift", 452.5, 144, 8, colour::kLabel);
    text(cr, "response", 452.5, 156, 8, colour::kLabel);

    arrow(cr, {{82, 80}, {88, 80}, {88, 53}, {102, 53}});
    arrow(cr, {{82, 154}, {88, 154}, {88, 135}, {102, 135}});
    arrow(cr, {{194, 53}, {214, 53}});
    arrow(cr, {{194, 92}, {214, 92}});
    arrow(cr, {{194, 135}, {214, 135}});
    arrow(cr, {{194, 174}, {214, 174}});
    arrow(cr, {{304, 71}, {324, 71}});
    arrow(cr, {{304, 153}, {324, 153}});
    arrow(cr, {{402, 71}, {422, 71}});
    arrow(cr, {{402, 153}, {422, 153}});

    // The output chain, fed from the vocoder along the return line.
    struct Stage {
        std::string_view name, line2;
    };
    constexpr Stage kChain[] = {{"mix", "dry · wet"}, {"EQ", "low mid high"}, {"clip", ""},
                                {"comp", "master"},   {"level", "master"},    {"effect", "1 of 4"},
                                {"DC block", ""},     {"out", "L · R"}};
    constexpr double kW = 50, kGap = (471.0 - 8 * kW) / 7, kY = 214, kH = 32;
    arrow(cr, {{452.5, 188}, {452.5, 200}, {37, 200}, {37, kY}});
    for (int i = 0; i < 8; ++i) {
        const double x = 12 + i * (kW + kGap);
        block(cr, x, kY, kW, kH, kChain[i].name, kChain[i].line2, i == 7);
        if (i < 7) arrow(cr, {{x + kW, kY + kH / 2}, {x + kW + kGap, kY + kH / 2}});
    }
    text(cr, "The vocoder gives each of the 32 shaped bands the level measured in the same analysis band.",
         247.5, 262, 8, colour::kLabelDim);
}

void drawTipsPage(cairo_t* cr, const Frame& f) {
    sheet(cr, f);
    pageTitle(cr, "TIPS", "mouse short-cuts");
    struct Tip {
        std::string_view head, line;
    };
    constexpr Tip kLeft[] = {
        {"Turn a knob", "drag up or down; 100 pixels cover the range"},
        {"Fine adjustment", "hold Shift while dragging"},
        {"Small steps", "turn the mouse wheel over a knob"},
        {"Back to default", "Ctrl-click or double-click a knob"},
        {"MIDI learn", "right-click a knob, choose midi Learn (learn lights)"},
        {"", "and move a controller; clear forgets it again"},
    };
    constexpr Tip kRight[] = {
        {"Play the keyboard", "click a key; lower on the key plays louder"},
        {"Hold a note", "right-click a key; right-click it again to let go"},
        {"Keyboard range", "the arrows beside it move it by an octave"},
        {"Load a sample", "click the sample view on the sampler panel"},
        {"Sample markers", "Alt-click sets the start, Ctrl-click the end"},
        {"Presets", "the field in the top bar loads, saves, changes folder"},
    };
    auto column = [cr](const Tip* tips, int n, double x) {
        double y = 46;
        for (int i = 0; i < n; ++i) {
            if (!tips[i].head.empty()) {
                setColour(cr, colour::kAccent);
                cairo_rectangle(cr, x, y - 5, 3, 3);
                cairo_fill(cr);
                text(cr, tips[i].head, x + 8, y, 9, colour::kPointer, Align::Left, true);
                y += 12;
            }
            text(cr, tips[i].line, x + 8, y, 8.5, colour::kLabel, Align::Left);
            y += tips[i + 1 < n ? i + 1 : i].head.empty() ? 11 : 17;
        }
    };
    column(kLeft, 6, 14);
    column(kRight, 6, 252);
    // What MIDI does, across the foot of the page.
    setColour(cr, colour::kEdgeLight, 0.8);
    cairo_rectangle(cr, 12, 222, 471, 1);
    cairo_fill(cr);
    text(cr, "MIDI", 14, 238, 9, colour::kAccent, Align::Left, true);
    text(cr,
         "Notes play the synthesizer (the four lowest held notes are its voices) and trigger the sampler.",
         48, 238, 8.5, colour::kLabel, Align::Left);
    text(cr, "Pitch bend moves every voice by up to the bend range; controller 1 always sets the mod wheel.",
         48, 251, 8.5, colour::kLabel, Align::Left);
    text(cr, "Any controller, and channel pressure, can be learnt onto a knob; presets keep what was learnt.",
         48, 264, 8.5, colour::kLabel, Align::Left);
}

}  // namespace kf::artgen
