// Drawing helpers shared by every picture of the generator: the palette, the one typeface and
// the small shapes (plates, wells, labels) the panels are built from.
#pragma once

#include <cairo.h>

#include <string_view>

namespace kf::artgen {

struct Rgb {
    double r, g, b;
};

constexpr Rgb rgb(unsigned hex) {
    return {((hex >> 16) & 0xff) / 255.0, ((hex >> 8) & 0xff) / 255.0, (hex & 0xff) / 255.0};
}

// One palette for the whole instrument: dark grey panels, light grey text, one amber accent.
namespace colour {
inline constexpr Rgb kPanel = rgb(0x2b2e33);      // the surface every control sits on
inline constexpr Rgb kPanelDark = rgb(0x1d1f23);  // wells, the top bar, readout plates
inline constexpr Rgb kEdgeLight = rgb(0x4a4f57);  // bevel highlights, section outlines
inline constexpr Rgb kEdgeDark = rgb(0x131417);   // bevel shadows
inline constexpr Rgb kLabel = rgb(0xc9ccd1);      // captions under and over controls
inline constexpr Rgb kLabelDim = rgb(0x8a8f98);   // secondary text
inline constexpr Rgb kAccent = rgb(0xf0a020);     // amber: value arcs, titles, lit states
inline constexpr Rgb kAccentDim = rgb(0x6b4a14);  // amber, unlit
inline constexpr Rgb kReadout = rgb(0x9fe08a);    // green digits of the value strips
inline constexpr Rgb kPointer = rgb(0xf4f4f2);    // knob pointers and the brightest text
}  // namespace colour

void setColour(cairo_t* cr, Rgb c, double alpha = 1.0);
void roundRect(cairo_t* cr, double x, double y, double w, double h, double r);
void fillRect(cairo_t* cr, double x, double y, double w, double h, Rgb c);

// A recessed well (dark inside, shadow top-left, highlight bottom-right) on integer pixels.
void well(cairo_t* cr, double x, double y, double w, double h, double radius = 2.0);
// A raised plate (button face) with a soft vertical gradient.
void plate(cairo_t* cr, double x, double y, double w, double h, Rgb top, Rgb bottom, double radius = 2.0);

// The typeface: Liberation Sans, loaded from its files so that no font configuration changes
// the result, with grey anti-aliasing and no hinting.
class Fonts {
  public:
    Fonts();
    ~Fonts();
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;
    static void use(cairo_t* cr, double size, bool bold = false);

  private:
    static Fonts* current_;
    void* library_ = nullptr;
    cairo_font_face_t* regular_ = nullptr;
    cairo_font_face_t* bold_ = nullptr;
};

enum class Align { Left, Centre, Right };

// Text with its baseline at y; x is the left edge, centre or right edge by `align`.
void text(cairo_t* cr, std::string_view s, double x, double y, double size, Rgb c,
          Align align = Align::Centre, bool bold = false);
// Text centred in a box, vertically by the height of capitals.
void textIn(cairo_t* cr, std::string_view s, double x, double y, double w, double h, double size, Rgb c,
            bool bold = false);
double textWidth(cairo_t* cr, std::string_view s, double size, bool bold = false);

// A control caption: small lower-case text centred on x with its baseline at y.
void label(cairo_t* cr, std::string_view s, double x, double y);
// A section title: bold capitals with a thin rule continuing to the right edge.
void sectionTitle(cairo_t* cr, std::string_view s, double x, double y, double right, Rgb c = colour::kAccent);

}  // namespace kf::artgen
