// The moving parts: knobs, wheels, LEDs and keys. Each strip comes from one function of the
// frame index, so every frame of a strip is the same drawing at another value.
#include <cmath>

#include "paint.h"
#include "pictures.h"

namespace kf::artgen {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double deg(double d) {
    return d * kPi / 180.0;
}

// Pointer angle of frame k: -135 degrees (7:30) to +135 degrees (4:30), clockwise from 12 o'clock.
double pointerAngle(const Frame& f) {
    return -135.0 + 270.0 * f.index / (f.count - 1);
}

// Cairo measures angles clockwise from 3 o'clock.
double cairoAngle(double fromNoon) {
    return deg(fromNoon - 90.0);
}

void arcTrack(cairo_t* cr, double cx, double cy, double r, double from, double to, Rgb c, double width) {
    setColour(cr, c);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    if (to < from) std::swap(from, to);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, r, cairoAngle(from), cairoAngle(to));
    cairo_stroke(cr);
}

// A knob: the value ring (dark track, amber value from `origin` to the pointer), a shaded body
// with a knurled edge, and a light pointer line.
void knob(cairo_t* cr, double cx, double cy, double ringR, double bodyR, double angle, double origin,
          bool centreTick, double pointerFrom = 0.30) {
    arcTrack(cr, cx, cy, ringR, -135, 135, colour::kPanelDark, 3.0);
    if (std::abs(angle - origin) > 0.01) arcTrack(cr, cx, cy, ringR, origin, angle, colour::kAccent, 2.2);
    if (centreTick) {
        // The centre mark crosses the track at 12 o'clock, visible over the arc as well.
        setColour(cr, colour::kLabel);
        cairo_rectangle(cr, cx - 0.5, cy - ringR - 2, 1, 4);
        cairo_fill(cr);
    }
    // Drop shadow, then the body lit from the upper left.
    setColour(cr, colour::kEdgeDark, 0.6);
    cairo_arc(cr, cx + 0.6, cy + 1.2, bodyR + 0.6, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_t* g = cairo_pattern_create_linear(cx - bodyR, cy - bodyR, cx + bodyR, cy + bodyR);
    cairo_pattern_add_color_stop_rgb(g, 0, 0.50, 0.52, 0.56);
    cairo_pattern_add_color_stop_rgb(g, 1, 0.20, 0.21, 0.23);
    cairo_set_source(cr, g);
    cairo_arc(cr, cx, cy, bodyR, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
    // The cap: a slightly smaller disc with a radial sheen.
    const double capR = bodyR - 2.2;
    cairo_pattern_t* r = cairo_pattern_create_radial(cx - capR * 0.4, cy - capR * 0.5, 0.5, cx, cy, capR);
    cairo_pattern_add_color_stop_rgb(r, 0, 0.45, 0.47, 0.51);
    cairo_pattern_add_color_stop_rgb(r, 1, 0.29, 0.31, 0.34);
    cairo_set_source(cr, r);
    cairo_arc(cr, cx, cy, capR, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(r);
    // Pointer from near the centre to the rim.
    const double s = std::sin(deg(angle)), c = -std::cos(deg(angle));
    setColour(cr, colour::kPointer);
    cairo_set_line_width(cr, 2.0);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, cx + s * bodyR * pointerFrom, cy + c * bodyR * pointerFrom);
    cairo_line_to(cr, cx + s * (bodyR - 1.2), cy + c * (bodyR - 1.2));
    cairo_stroke(cr);
}

void panelFill(cairo_t* cr, const Frame& f) {
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanel);
}

// The synthesizer's morphing wave at position w in 0..4: sine, square, saw, triangle, sine,
// each shape blending linearly into the next; phase p in 0..1.
double morphWave(double w, double p) {
    auto shape = [](int i, double x) {
        switch (i % 4) {
            case 0:
                return std::sin(2 * kPi * x);
            case 1:
                return x < 0.5 ? 1.0 : -1.0;
            case 2:
                return 1.0 - 2.0 * x;
            default:
                return x < 0.25 ? 4 * x : (x < 0.75 ? 2 - 4 * x : 4 * x - 4);
        }
    };
    const int i = std::min(3, static_cast<int>(w));
    const double t = w - i;
    return (1 - t) * shape(i, p) + t * shape(i + 1, p);
}

}  // namespace

void drawUnipolarKnob(cairo_t* cr, const Frame& f) {
    panelFill(cr, f);
    knob(cr, 19, 19, 16, 11.5, pointerAngle(f), -135, false);
}

void drawBipolarKnob(cairo_t* cr, const Frame& f) {
    panelFill(cr, f);
    knob(cr, 19, 19, 16, 11.5, pointerAngle(f), 0, true);
}

void drawWaveKnob(cairo_t* cr, const Frame& f) {
    panelFill(cr, f);
    const double cx = 23, cy = 20;
    // The pointer keeps to the rim, around the screen in the cap.
    knob(cr, cx, cy, 17.5, 13, pointerAngle(f), -135, false, 0.68);
    // A small screen in the cap showing the wave the knob selects.
    setColour(cr, colour::kPanelDark);
    roundRect(cr, cx - 7.5, cy - 4.5, 15, 9, 2);
    cairo_fill(cr);
    const double w = 4.0 * f.index / (f.count - 1);
    setColour(cr, colour::kAccent);
    cairo_set_line_width(cr, 1.1);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (int i = 0; i <= 26; ++i) {
        const double p = i / 26.0;
        const double x = cx - 6.5 + 13 * p, y = cy - 3.0 * morphWave(w, p);
        if (i == 0)
            cairo_move_to(cr, x, y);
        else
            cairo_line_to(cr, x, y);
    }
    cairo_stroke(cr);
}

void drawWheel(cairo_t* cr, const Frame& f) {
    panelFill(cr, f);
    well(cr, 0, 0, f.width, f.height, 3);
    // The wheel: a cylinder seen edge-on, turning through 110 degrees; frame 0 has its marker at
    // the bottom, the last frame at the top.
    const double cy = f.height / 2.0, R = cy - 4;
    const double turn = deg(-55.0 + 110.0 * f.index / (f.count - 1));
    cairo_pattern_t* g = cairo_pattern_create_linear(0, cy - R, 0, cy + R);
    cairo_pattern_add_color_stop_rgb(g, 0.0, 0.12, 0.12, 0.13);
    cairo_pattern_add_color_stop_rgb(g, 0.5, 0.42, 0.44, 0.47);
    cairo_pattern_add_color_stop_rgb(g, 1.0, 0.10, 0.10, 0.11);
    cairo_set_source(cr, g);
    roundRect(cr, 3, cy - R, f.width - 6, 2 * R, 2);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
    // Grip ridges every 12 degrees of the surface, turning with the wheel; they crowd and fade
    // towards the ends as the surface turns away.
    for (int n = -16; n <= 16; ++n) {
        const double phi = turn + deg(12.0 * n);
        if (std::abs(phi) > deg(78)) continue;
        const double y = cy - R * std::sin(phi);
        setColour(cr, colour::kEdgeDark, 0.35 * std::cos(phi));
        cairo_rectangle(cr, 4, y - 0.5, f.width - 8, 1);
        cairo_fill(cr);
    }
    // The marker ridge, lit amber, foreshortened like the rest of the surface.
    const double ym = cy - R * std::sin(turn), half = 1.0 + 1.0 * std::cos(turn);
    setColour(cr, colour::kAccent);
    cairo_rectangle(cr, 3, ym - half, f.width - 6, 2 * half);
    cairo_fill(cr);
}

void drawMeterLed(cairo_t* cr, const Frame& f) {
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanelDark);
    // Eight steps: frame 0 unlit, then brighter and warmer up to red at full level.
    const double level = static_cast<double>(f.index) / (f.count - 1);
    Rgb c = f.index == f.count - 1 ? rgb(0xff3b2e) : (f.index >= 5 ? rgb(0xffb020) : rgb(0x5ee04a));
    const double glow = 0.18 + 0.82 * level;
    setColour(cr, colour::kEdgeDark);
    cairo_arc(cr, 5, 5, 4.5, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, c.r * glow, c.g * glow, c.b * glow);
    cairo_arc(cr, 5, 5, 3.5, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.15 + 0.35 * level);
    cairo_arc(cr, 4.2, 4.0, 1.2, 0, 2 * kPi);
    cairo_fill(cr);
}

void drawIndicatorLed(cairo_t* cr, const Frame& f) {
    fillRect(cr, 0, 0, f.width, f.height, colour::kPanelDark);
    const bool on = f.index == 1;
    setColour(cr, colour::kEdgeDark);
    cairo_arc(cr, 5, 5, 4.5, 0, 2 * kPi);
    cairo_fill(cr);
    setColour(cr, on ? colour::kAccent : colour::kAccentDim);
    cairo_arc(cr, 5, 5, 3.5, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, on ? 0.5 : 0.15);
    cairo_arc(cr, 4.2, 4.0, 1.2, 0, 2 * kPi);
    cairo_fill(cr);
}

void drawBlackKey(cairo_t* cr, const Frame& f) {
    const bool held = f.index == 1;
    fillRect(cr, 0, 0, f.width, f.height, colour::kEdgeDark);
    // Body, then the front bevel that shortens when the key is down.
    const double front = held ? 3 : 6;
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, f.width, 0);
    const Rgb a = held ? rgb(0x4a3a22) : rgb(0x2c2e33), b = held ? rgb(0x2a2013) : rgb(0x16171a);
    cairo_pattern_add_color_stop_rgb(g, 0, a.r, a.g, a.b);
    cairo_pattern_add_color_stop_rgb(g, 1, b.r, b.g, b.b);
    cairo_set_source(cr, g);
    cairo_rectangle(cr, 1, 0, f.width - 2, f.height - 1);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
    setColour(cr, held ? rgb(0x7a5a2a) : rgb(0x4b4e55));
    cairo_rectangle(cr, 1.5, f.height - 1 - front, f.width - 3, front - 0.5);
    cairo_fill(cr);
}

namespace {

// A white key 13 px wide; the upper 40 px beside a black key are cut away (`notchLeft`,
// `notchRight` px) and painted as the gap the black key stands in.
void whiteKey(cairo_t* cr, const Frame& f, double notchLeft, double notchRight) {
    const bool held = f.index == 1;
    fillRect(cr, 0, 0, f.width, f.height, colour::kEdgeDark);
    const double blackLen = 40;
    const Rgb top = held ? rgb(0xe8c88c) : rgb(0xf2f0ea), bottom = held ? rgb(0xd9a85a) : rgb(0xd8d5cc);
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, 0, f.height);
    cairo_pattern_add_color_stop_rgb(g, 0, top.r * 0.85, top.g * 0.85, top.b * 0.85);
    cairo_pattern_add_color_stop_rgb(g, 0.08, top.r, top.g, top.b);
    cairo_pattern_add_color_stop_rgb(g, 1, bottom.r, bottom.g, bottom.b);
    cairo_set_source(cr, g);
    const double right = f.width - 1;  // one dark pixel separates neighbouring keys
    cairo_move_to(cr, notchLeft, 0);
    cairo_line_to(cr, right - notchRight, 0);
    cairo_line_to(cr, right - notchRight, blackLen + 1);
    cairo_line_to(cr, right, blackLen + 1);
    cairo_line_to(cr, right, f.height - 3);
    cairo_arc(cr, right - 2, f.height - 3, 2, 0, kPi / 2);
    cairo_arc(cr, 2, f.height - 3, 2, kPi / 2, kPi);
    cairo_line_to(cr, 0, blackLen + 1);
    cairo_line_to(cr, notchLeft, blackLen + 1);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
    // The key's front lip: a pressed key shows less of it.
    cairo_set_source_rgba(cr, 0, 0, 0, held ? 0.10 : 0.18);
    cairo_rectangle(cr, 0.5, f.height - (held ? 3 : 5), right - 1, 1);
    cairo_fill(cr);
}

}  // namespace

void drawWhiteKeyC(cairo_t* cr, const Frame& f) {
    whiteKey(cr, f, 0, 5);
}
void drawWhiteKeyD(cairo_t* cr, const Frame& f) {
    whiteKey(cr, f, 5, 5);
}
void drawWhiteKeyE(cairo_t* cr, const Frame& f) {
    whiteKey(cr, f, 5, 0);
}

}  // namespace kf::artgen
