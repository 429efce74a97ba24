// Drawing on Linux, with cairo: surfaces over the toolkit's pixel memory, bitmaps decoded by
// cairo's PNG reader, text in one FreeType face through cairo-ft.
#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "gui/linux/cairo_native.h"

namespace kf::gui {

namespace {

// One face for the module's life. cairo keeps the scaled fonts of the faces it has met in
// caches of its own, so a face made for each window would leave a copy behind every time a
// host opens the editor. cairo opens the file itself: no code of ours runs when it finally
// lets the face go, which may be after this module has been unloaded.
class ModuleFont {
  public:
    ModuleFont() : face_(load()) {}
    ~ModuleFont() { cairo_font_face_destroy(face_); }
    ModuleFont(const ModuleFont&) = delete;
    ModuleFont& operator=(const ModuleFont&) = delete;
    cairo_font_face_t* face() const { return face_; }

  private:
    static cairo_font_face_t* load() {
        if (FcPattern* pattern = FcPatternCreate()) {
            const bool described =
                FcPatternAddString(pattern, FC_FILE, reinterpret_cast<const FcChar8*>(KF_FONT_FILE)) &&
                FcPatternAddInteger(pattern, FC_INDEX, 0) && FcPatternAddBool(pattern, FC_HINTING, FcFalse);
            cairo_font_face_t* face = described ? cairo_ft_font_face_create_for_pattern(pattern) : nullptr;
            FcPatternDestroy(pattern);
            // The face reads the file only when it first draws: make sure it is there.
            if (face && cairo_font_face_status(face) == CAIRO_STATUS_SUCCESS && fileReadable()) return face;
            cairo_font_face_destroy(face);
        }
        // The file is missing: the system's copy of the same family, through fontconfig.
        cairo_font_face_t* toy =
            cairo_toy_font_face_create("Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        if (cairo_font_face_status(toy) == CAIRO_STATUS_SUCCESS) return toy;
        cairo_font_face_destroy(toy);
        return cairo_toy_font_face_create("sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    }
    static bool fileReadable() {
        std::FILE* file = std::fopen(KF_FONT_FILE, "rb");
        if (file) std::fclose(file);
        return file != nullptr;
    }

    cairo_font_face_t* face_;
};

cairo_font_face_t* moduleFont() {
    static const ModuleFont font;
    return font.face();
}

void setColor(cairo_t* cr, Color c) {
    cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0);
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<std::vector<unsigned char>*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

struct PngReader {
    std::span<const unsigned char> bytes;
    std::size_t offset = 0;
};

cairo_status_t readPng(void* closure, unsigned char* data, unsigned int length) {
    auto* reader = static_cast<PngReader*>(closure);
    if (reader->bytes.size() - reader->offset < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, reader->bytes.data() + reader->offset, length);
    reader->offset += length;
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

// The font lives as long as the module (moduleFont): nothing to hold.
DrawingUse::DrawingUse() = default;
DrawingUse::~DrawingUse() = default;

// ---- Surface ----

Surface::Surface(int width, int height)
    : width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      pixels_(static_cast<std::size_t>(width_) * height_, 0u),
      native_(std::make_unique<Native>(
          Native{cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels_.data()),
                                                     CAIRO_FORMAT_RGB24, width_, height_, width_ * 4)})) {}

Surface::~Surface() {
    cairo_surface_destroy(native_->surface);
}

const std::uint32_t* Surface::data() const {
    cairo_surface_flush(native_->surface);
    return pixels_.data();
}

void Surface::assign(std::span<const std::uint32_t> words) {
    cairo_surface_flush(native_->surface);
    std::copy_n(words.begin(), std::min(words.size(), pixels_.size()), pixels_.begin());
    cairo_surface_mark_dirty(native_->surface);
}

bool Surface::writePng(const std::string& path) const {
    cairo_surface_flush(native_->surface);
    return cairo_surface_write_to_png(native_->surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

std::vector<unsigned char> Surface::encodePng() const {
    std::vector<unsigned char> out;
    cairo_surface_flush(native_->surface);
    if (cairo_surface_write_to_png_stream(native_->surface, appendBytes, &out) != CAIRO_STATUS_SUCCESS)
        out.clear();
    return out;
}

// ---- Bitmap ----

Bitmap::Bitmap(std::unique_ptr<Native> native, int width, int height)
    : native_(std::move(native)), width_(width), height_(height) {}

Bitmap::~Bitmap() {
    cairo_surface_destroy(native_->surface);
}

std::unique_ptr<Bitmap> Bitmap::decodePng(std::span<const unsigned char> png) {
    if (png.empty()) return nullptr;
    PngReader reader{png};
    cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(readPng, &reader);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return std::make_unique<Bitmap>(std::make_unique<Native>(Native{surface}),
                                    cairo_image_surface_get_width(surface),
                                    cairo_image_surface_get_height(surface));
}

// ---- DrawContext ----

DrawContext::DrawContext(Surface& target, const BitmapCache* bitmaps)
    : native_(std::make_unique<Native>(Native{cairo_create(target.native().surface)})), bitmaps_(bitmaps) {
    cairo_t* cr = native_->cr;
    cairo_set_font_face(cr, moduleFont());
    cairo_set_font_size(cr, kFontSize);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

DrawContext::~DrawContext() {
    while (native_->clipDepth > 0) popClip();
    cairo_destroy(native_->cr);
}

void DrawContext::fillRect(const Rect& r, Color c) {
    if (r.empty()) return;
    cairo_t* cr = native_->cr;
    setColor(cr, c);
    cairo_rectangle(cr, r.left, r.top, r.width(), r.height());
    cairo_fill(cr);
}

void DrawContext::line(Point from, Point to, Color c, float width) {
    cairo_t* cr = native_->cr;
    setColor(cr, c);
    cairo_set_line_width(cr, width);
    // Square caps through pixel centres: a horizontal or vertical 1-px line covers exactly
    // the pixels from one end to the other.
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
    cairo_move_to(cr, from.x + 0.5, from.y + 0.5);
    cairo_line_to(cr, to.x + 0.5, to.y + 0.5);
    cairo_stroke(cr);
}

void DrawContext::polyline(std::span<const PointF> points, Color c, float width) {
    if (points.size() < 2) return;
    cairo_t* cr = native_->cr;
    setColor(cr, c);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_move_to(cr, points[0].x, points[0].y);
    for (std::size_t i = 1; i < points.size(); ++i) cairo_line_to(cr, points[i].x, points[i].y);
    cairo_stroke(cr);
}

void DrawContext::fillPolygon(std::span<const PointF> points, Color c) {
    if (points.size() < 3) return;
    cairo_t* cr = native_->cr;
    setColor(cr, c);
    cairo_move_to(cr, points[0].x, points[0].y);
    for (std::size_t i = 1; i < points.size(); ++i) cairo_line_to(cr, points[i].x, points[i].y);
    cairo_close_path(cr);
    cairo_fill(cr);
}

void DrawContext::pushClip(const Rect& r) {
    cairo_t* cr = native_->cr;
    cairo_save(cr);
    ++native_->clipDepth;
    cairo_rectangle(cr, r.left, r.top, std::max(r.width(), 0), std::max(r.height(), 0));
    cairo_clip(cr);
}

void DrawContext::popClip() {
    if (native_->clipDepth == 0) return;
    --native_->clipDepth;
    cairo_restore(native_->cr);
}

void DrawContext::blit(const Bitmap& bitmap, const Rect& source, Point at) {
    cairo_t* cr = native_->cr;
    cairo_save(cr);
    cairo_set_source_surface(cr, bitmap.native().surface, at.x - source.left, at.y - source.top);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, at.x, at.y, source.width(), source.height());
    cairo_fill(cr);
    cairo_restore(cr);
}

void DrawContext::blitIn(const Bitmap& bitmap, Point origin, const Rect& bound, std::span<const Rect> areas) {
    // One path of all the areas, filled once: far cheaper than a blit per area.
    cairo_t* cr = native_->cr;
    cairo_save(cr);
    cairo_set_source_surface(cr, bitmap.native().surface, origin.x, origin.y);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    for (const Rect& area : areas) {
        const Rect r = area.intersection(bound);
        if (!r.empty()) cairo_rectangle(cr, r.left, r.top, r.width(), r.height());
    }
    cairo_fill(cr);
    cairo_restore(cr);
}

void DrawContext::setTextSize(double pixels) {
    cairo_set_font_size(native_->cr, pixels);
}

float DrawContext::measure(const std::string& text) {
    cairo_text_extents_t extents;
    cairo_text_extents(native_->cr, text.c_str(), &extents);
    return static_cast<float>(extents.x_advance);
}

DrawContext::FontExtents DrawContext::fontExtents() {
    cairo_font_extents_t fe;
    cairo_font_extents(native_->cr, &fe);
    return {fe.ascent, fe.descent};
}

void DrawContext::showText(const std::string& text, Point origin, const Rect& clip, Color c) {
    cairo_t* cr = native_->cr;
    cairo_save(cr);
    cairo_rectangle(cr, clip.left, clip.top, clip.width(), clip.height());
    cairo_clip(cr);
    setColor(cr, c);
    cairo_move_to(cr, origin.x, origin.y);
    cairo_show_text(cr, text.c_str());
    cairo_restore(cr);
}

}  // namespace kf::gui
