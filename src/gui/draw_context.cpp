#include "gui/draw_context.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <mutex>

#include "gui/bitmap_cache.h"

namespace kf::gui {

namespace {

// The face is shared by every context of the process and lives while some context (or
// frame) uses it, so a plug-in unloaded by its host leaves no font behind.
std::mutex gFontMutex;
int gFontUses = 0;
cairo_font_face_t* gFont = nullptr;
cairo_user_data_key_t gFontOwnerKey;

struct FontOwner {
    FT_Library library;
    FT_Face face;
};

void releaseFontOwner(void* p) {
    // Runs when cairo drops its last reference to the face, which may be after our own
    // release (cairo keeps recently used fonts), so the FreeType objects go only now.
    auto* owner = static_cast<FontOwner*>(p);
    FT_Done_Face(owner->face);
    FT_Done_FreeType(owner->library);
    delete owner;
}

cairo_font_face_t* loadFont() {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) == 0) {
        FT_Face face = nullptr;
        if (FT_New_Face(library, kFontPath, 0, &face) == 0) {
            cairo_font_face_t* font = cairo_ft_font_face_create_for_ft_face(face, FT_LOAD_NO_HINTING);
            auto* owner = new FontOwner{library, face};
            if (cairo_font_face_status(font) == CAIRO_STATUS_SUCCESS &&
                cairo_font_face_set_user_data(font, &gFontOwnerKey, owner, releaseFontOwner) ==
                    CAIRO_STATUS_SUCCESS) {
                return font;
            }
            cairo_font_face_destroy(font);
            releaseFontOwner(owner);
        } else {
            FT_Done_FreeType(library);
        }
    }
    // The file is missing: the system's copy of the same family, through fontconfig.
    cairo_font_face_t* toy =
        cairo_toy_font_face_create("Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    if (cairo_font_face_status(toy) == CAIRO_STATUS_SUCCESS) return toy;
    cairo_font_face_destroy(toy);
    return cairo_toy_font_face_create("sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
}

cairo_font_face_t* acquireFont() {
    std::lock_guard lock(gFontMutex);
    if (gFontUses++ == 0) gFont = loadFont();
    return gFont;
}

void releaseFont() {
    std::lock_guard lock(gFontMutex);
    if (gFontUses > 0 && --gFontUses == 0) {
        cairo_font_face_destroy(gFont);
        gFont = nullptr;
    }
}

void setupContext(cairo_t* cr, cairo_font_face_t* font) {
    cairo_set_font_face(cr, font);
    cairo_set_font_size(cr, kFontSize);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

void setColor(cairo_t* cr, Color c) {
    cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0);
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<std::vector<unsigned char>*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

// Length of the UTF-8 sequence that starts with byte b (1 for a stray continuation byte,
// so malformed text still advances).
std::size_t utf8Length(unsigned char b) {
    if (b >= 0xF0) return 4;
    if (b >= 0xE0) return 3;
    if (b >= 0xC0) return 2;
    return 1;
}

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026

}  // namespace

FontUse::FontUse() {
    acquireFont();
}
FontUse::~FontUse() {
    releaseFont();
}

// ---- Surface ----

Surface::Surface(int width, int height)
    : width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_, height_)) {}

Surface::~Surface() {
    cairo_surface_destroy(surface_);
}

std::uint32_t Surface::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    cairo_surface_flush(surface_);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    if (!data) return 0;
    const int stride = cairo_image_surface_get_stride(surface_);
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    return row[x] & 0xFFFFFFu;
}

std::vector<std::uint32_t> Surface::pixels() const {
    std::vector<std::uint32_t> out;
    out.reserve(static_cast<std::size_t>(width_) * height_);
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) out.push_back(pixel(x, y));
    }
    return out;
}

bool Surface::writePng(const std::string& path) const {
    cairo_surface_flush(surface_);
    return cairo_surface_write_to_png(surface_, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

std::vector<unsigned char> Surface::encodePng() const {
    std::vector<unsigned char> out;
    cairo_surface_flush(surface_);
    if (cairo_surface_write_to_png_stream(surface_, appendBytes, &out) != CAIRO_STATUS_SUCCESS) out.clear();
    return out;
}

// ---- DrawContext ----

DrawContext::DrawContext(Surface& target, const BitmapCache* bitmaps)
    : cr_(cairo_create(target.native())), bitmaps_(bitmaps) {
    setupContext(cr_, acquireFont());
}

DrawContext::~DrawContext() {
    while (clipDepth_ > 0) popClip();
    cairo_destroy(cr_);
    releaseFont();
}

void DrawContext::fillRect(const Rect& r, Color c) {
    if (r.empty()) return;
    setColor(cr_, c);
    cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
    cairo_fill(cr_);
}

void DrawContext::strokeRect(const Rect& r, Color c, int width) {
    // Four filled bands rather than a stroked path: whole pixels, no antialiased edges.
    if (r.empty() || width <= 0) return;
    const int w = std::min({width, (r.width() + 1) / 2, (r.height() + 1) / 2});
    fillRect({r.left, r.top, r.right, r.top + w}, c);
    fillRect({r.left, r.bottom - w, r.right, r.bottom}, c);
    fillRect({r.left, r.top + w, r.left + w, r.bottom - w}, c);
    fillRect({r.right - w, r.top + w, r.right, r.bottom - w}, c);
}

void DrawContext::line(Point from, Point to, Color c, float width) {
    setColor(cr_, c);
    cairo_set_line_width(cr_, width);
    // Square caps through pixel centres: a horizontal or vertical 1-px line covers exactly
    // the pixels from one end to the other.
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_SQUARE);
    cairo_move_to(cr_, from.x + 0.5, from.y + 0.5);
    cairo_line_to(cr_, to.x + 0.5, to.y + 0.5);
    cairo_stroke(cr_);
}

void DrawContext::polyline(std::span<const PointF> points, Color c, float width) {
    if (points.size() < 2) return;
    setColor(cr_, c);
    cairo_set_line_width(cr_, width);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    cairo_move_to(cr_, points[0].x, points[0].y);
    for (std::size_t i = 1; i < points.size(); ++i) cairo_line_to(cr_, points[i].x, points[i].y);
    cairo_stroke(cr_);
}

void DrawContext::fillPolygon(std::span<const PointF> points, Color c) {
    if (points.size() < 3) return;
    setColor(cr_, c);
    cairo_move_to(cr_, points[0].x, points[0].y);
    for (std::size_t i = 1; i < points.size(); ++i) cairo_line_to(cr_, points[i].x, points[i].y);
    cairo_close_path(cr_);
    cairo_fill(cr_);
}

void DrawContext::pushClip(const Rect& r) {
    cairo_save(cr_);
    ++clipDepth_;
    cairo_rectangle(cr_, r.left, r.top, std::max(r.width(), 0), std::max(r.height(), 0));
    cairo_clip(cr_);
}

void DrawContext::popClip() {
    if (clipDepth_ == 0) return;
    --clipDepth_;
    cairo_restore(cr_);
}

void DrawContext::drawBitmap(const Bitmap& bitmap, Point at) {
    cairo_save(cr_);
    cairo_set_source_surface(cr_, bitmap.native(), at.x, at.y);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr_, at.x, at.y, bitmap.width(), bitmap.height());
    cairo_fill(cr_);
    cairo_restore(cr_);
}

void DrawContext::drawBitmapFrame(const Bitmap& bitmap, int frame, int frameHeight, const Rect& dest) {
    if (frameHeight <= 0 || dest.empty()) return;
    const int frames = std::max(bitmap.height() / frameHeight, 1);
    frame = std::clamp(frame, 0, frames - 1);
    cairo_save(cr_);
    const int h = std::min(dest.height(), frameHeight);
    cairo_rectangle(cr_, dest.left, dest.top, std::min(dest.width(), bitmap.width()), h);
    cairo_clip(cr_);
    cairo_set_source_surface(cr_, bitmap.native(), dest.left, dest.top - frame * frameHeight);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_NEAREST);
    cairo_paint(cr_);
    cairo_restore(cr_);
}

void DrawContext::drawBitmapFrameIn(int id, int frame, int frameHeight, Point at,
                                    std::span<const Rect> areas) {
    const Bitmap* b = bitmap(id);
    if (!b || frameHeight <= 0 || areas.empty()) return;
    frame = std::clamp(frame, 0, std::max(b->height() / frameHeight, 1) - 1);
    const Rect inFrame{at.x, at.y, at.x + b->width(), at.y + frameHeight};
    cairo_save(cr_);
    cairo_set_source_surface(cr_, b->native(), at.x, at.y - frame * frameHeight);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_NEAREST);
    for (const Rect& area : areas) {
        const Rect r = area.intersection(inFrame);
        if (!r.empty()) cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
    }
    cairo_fill(cr_);
    cairo_restore(cr_);
}

const Bitmap* DrawContext::bitmap(int id) const {
    return bitmaps_ ? bitmaps_->get(id) : nullptr;
}

void DrawContext::drawBitmap(int id, Point at) {
    if (const Bitmap* b = bitmap(id)) drawBitmap(*b, at);
}

void DrawContext::drawBitmapFrame(int id, int frame, int frameHeight, const Rect& dest) {
    if (const Bitmap* b = bitmap(id)) drawBitmapFrame(*b, frame, frameHeight, dest);
}

float DrawContext::textWidth(std::string_view text) {
    if (text.empty()) return 0.0f;
    const std::string s(text);
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, s.c_str(), &extents);
    return static_cast<float>(extents.x_advance);
}

std::string DrawContext::ellipsize(std::string_view text, float maxWidth) {
    if (textWidth(text) <= maxWidth) return std::string(text);
    // Character boundaries, so the cut never splits a UTF-8 sequence.
    std::vector<std::size_t> cuts;
    for (std::size_t i = 0; i < text.size(); i += utf8Length(static_cast<unsigned char>(text[i]))) {
        cuts.push_back(i);
    }
    for (auto it = cuts.rbegin(); it != cuts.rend(); ++it) {
        std::string candidate(text.substr(0, *it));
        while (!candidate.empty() && candidate.back() == ' ') candidate.pop_back();
        candidate += kEllipsis;
        if (textWidth(candidate) <= maxWidth) return candidate;
    }
    return std::string(kEllipsis);
}

void DrawContext::setTextSize(double pixels) {
    cairo_set_font_size(cr_, pixels);
}

void DrawContext::drawText(std::string_view text, const Rect& r, Align align, Color c, bool ellipsis) {
    if (text.empty() || r.empty()) return;
    const std::string shown = ellipsis ? ellipsize(text, static_cast<float>(r.width())) : std::string(text);
    const float width = textWidth(shown);
    float x = static_cast<float>(r.left);
    if (align == Align::Center) x = r.left + (r.width() - width) / 2.0f;
    if (align == Align::Right) x = r.right - width;
    cairo_font_extents_t fe;
    cairo_font_extents(cr_, &fe);
    // Centre the font's ascent-to-descent box in the rect; whole-pixel baseline and origin
    // keep the glyphs' rendering the same wherever the text sits.
    const double baseline = std::round(r.top + (r.height() + fe.ascent - fe.descent) / 2.0);
    cairo_save(cr_);
    cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
    cairo_clip(cr_);
    setColor(cr_, c);
    cairo_move_to(cr_, std::round(x), baseline);
    cairo_show_text(cr_, shown.c_str());
    cairo_restore(cr_);
}

}  // namespace kf::gui
