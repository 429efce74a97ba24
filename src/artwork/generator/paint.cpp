#include "paint.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <stdexcept>
#include <string>

namespace kf::artgen {

void setColour(cairo_t* cr, Rgb c, double alpha) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void roundRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    constexpr double kQuarter = 1.5707963267948966;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kQuarter, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, kQuarter);
    cairo_arc(cr, x + r, y + h - r, r, kQuarter, 2 * kQuarter);
    cairo_arc(cr, x + r, y + r, r, 2 * kQuarter, 3 * kQuarter);
    cairo_close_path(cr);
}

void fillRect(cairo_t* cr, double x, double y, double w, double h, Rgb c) {
    setColour(cr, c);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

void well(cairo_t* cr, double x, double y, double w, double h, double radius) {
    // Highlight one pixel lower right, shadow one pixel upper left, then the dark floor.
    setColour(cr, colour::kEdgeLight, 0.55);
    roundRect(cr, x, y + 1, w, h, radius);
    cairo_fill(cr);
    setColour(cr, colour::kEdgeDark);
    roundRect(cr, x, y, w, h, radius);
    cairo_fill(cr);
    setColour(cr, colour::kPanelDark);
    roundRect(cr, x + 1, y + 1, w - 1, h - 1, radius > 1 ? radius - 1 : 0);
    cairo_fill(cr);
}

void plate(cairo_t* cr, double x, double y, double w, double h, Rgb top, Rgb bottom, double radius) {
    setColour(cr, colour::kEdgeDark);
    roundRect(cr, x, y, w, h, radius);
    cairo_fill(cr);
    cairo_pattern_t* g = cairo_pattern_create_linear(0, y, 0, y + h);
    cairo_pattern_add_color_stop_rgb(g, 0, top.r, top.g, top.b);
    cairo_pattern_add_color_stop_rgb(g, 1, bottom.r, bottom.g, bottom.b);
    cairo_set_source(cr, g);
    roundRect(cr, x + 1, y + 1, w - 2, h - 2, radius > 1 ? radius - 1 : 0);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
    // A one-pixel sheen along the top edge.
    cairo_set_source_rgba(cr, 1, 1, 1, 0.12);
    cairo_rectangle(cr, x + 2, y + 1, w - 4, 1);
    cairo_fill(cr);
}

Fonts* Fonts::current_ = nullptr;

namespace {

constexpr const char* kFontDir = "/usr/share/fonts/truetype/liberation2/";
const cairo_user_data_key_t kFaceKey{};

cairo_font_face_t* loadFace(FT_Library lib, const char* file) {
    FT_Face face = nullptr;
    const std::string path = std::string(kFontDir) + file;
    if (FT_New_Face(lib, path.c_str(), 0, &face) != 0) throw std::runtime_error("cannot load font " + path);
    cairo_font_face_t* cf = cairo_ft_font_face_create_for_ft_face(face, 0);
    // Cairo may keep the face in its caches after we let go; the FreeType face must live until
    // cairo's last reference is gone, so cairo frees it.
    if (cairo_font_face_set_user_data(cf, &kFaceKey, face, [](void* f) {
            FT_Done_Face(static_cast<FT_Face>(f));
        }) != CAIRO_STATUS_SUCCESS) {
        cairo_font_face_destroy(cf);
        FT_Done_Face(face);
        throw std::runtime_error("cannot attach font");
    }
    return cf;
}

}  // namespace

Fonts::Fonts() {
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib) != 0) throw std::runtime_error("cannot start FreeType");
    library_ = lib;
    regular_ = loadFace(lib, "LiberationSans-Regular.ttf");
    bold_ = loadFace(lib, "LiberationSans-Bold.ttf");
    current_ = this;
}

Fonts::~Fonts() {
    current_ = nullptr;
    cairo_font_face_destroy(regular_);
    cairo_font_face_destroy(bold_);
    // Empties cairo's font caches so that both faces are released before the library is.
    cairo_debug_reset_static_data();
    FT_Done_FreeType(static_cast<FT_Library>(library_));
}

void Fonts::use(cairo_t* cr, double size, bool bold) {
    cairo_set_font_face(cr, bold ? current_->bold_ : current_->regular_);
    cairo_set_font_size(cr, size);
    cairo_font_options_t* o = cairo_font_options_create();
    cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, o);
    cairo_font_options_destroy(o);
}

double textWidth(cairo_t* cr, std::string_view s, double size, bool bold) {
    Fonts::use(cr, size, bold);
    const std::string str(s);
    cairo_text_extents_t e;
    cairo_text_extents(cr, str.c_str(), &e);
    return e.x_advance;
}

void text(cairo_t* cr, std::string_view s, double x, double y, double size, Rgb c, Align align, bool bold) {
    const double w = textWidth(cr, s, size, bold);
    if (align == Align::Centre) x -= w / 2;
    if (align == Align::Right) x -= w;
    const std::string str(s);
    setColour(cr, c);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, str.c_str());
    cairo_new_path(cr);
}

void textIn(cairo_t* cr, std::string_view s, double x, double y, double w, double h, double size, Rgb c,
            bool bold) {
    // Liberation Sans capitals are 0.69 em tall.
    const double cap = 0.69 * size;
    text(cr, s, x + w / 2, y + (h + cap) / 2, size, c, Align::Centre, bold);
}

void label(cairo_t* cr, std::string_view s, double x, double y) {
    text(cr, s, x, y, 9.5, colour::kLabel);
}

void sectionTitle(cairo_t* cr, std::string_view s, double x, double y, double right, Rgb c) {
    text(cr, s, x, y, 9, c, Align::Left, true);
    const double end = x + textWidth(cr, s, 9, true) + 5;
    if (end < right) {
        setColour(cr, c, 0.45);
        cairo_rectangle(cr, end, y - 3.5, right - end, 1);
        cairo_fill(cr);
    }
}

}  // namespace kf::artgen
