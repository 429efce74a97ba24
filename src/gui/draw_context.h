// Drawing. DrawContext is the toolkit's one door to the 2-D library (cairo): views, menus and
// the frame draw only through it, so another platform's drawing API can replace it without
// touching a view. A Surface is an off-screen RGB picture (the frame's back buffer, a
// screenshot) that a DrawContext draws into.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gui/geometry.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace kf::gui {

class Bitmap;
class BitmapCache;

// 8-bit channels; a = 255 is opaque.
struct Color {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
    static constexpr Color rgb(std::uint32_t rrggbb, std::uint8_t alpha = 255) {
        return {static_cast<std::uint8_t>(rrggbb >> 16), static_cast<std::uint8_t>(rrggbb >> 8),
                static_cast<std::uint8_t>(rrggbb), alpha};
    }
    bool operator==(const Color&) const = default;
};

enum class Align { Left, Center, Right };

// An opaque 24-bit picture in memory (cairo RGB24: one 32-bit word per pixel, 0x00RRGGBB).
class Surface {
  public:
    // Starts black. A size below 1 is taken as 1.
    Surface(int width, int height);
    ~Surface();
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    // 0x00RRGGBB of one pixel; 0 outside the picture.
    std::uint32_t pixel(int x, int y) const;
    // The rows top to bottom, `width()` pixels each, 0x00RRGGBB.
    std::vector<std::uint32_t> pixels() const;
    bool writePng(const std::string& path) const;
    // The picture as PNG file bytes (empty when encoding failed).
    std::vector<unsigned char> encodePng() const;

    cairo_surface_t* native() const { return surface_; }

  private:
    int width_;
    int height_;
    cairo_surface_t* surface_;
};

// Draws into a surface. Coordinates are window pixels; integer rects fill whole pixels.
// The state (clip) is the context's own: a view that clips restores with popClip().
class DrawContext {
  public:
    // `bitmaps` serves the id-based blits; without it they draw nothing.
    DrawContext(Surface& target, const BitmapCache* bitmaps);
    ~DrawContext();
    DrawContext(const DrawContext&) = delete;
    DrawContext& operator=(const DrawContext&) = delete;

    void fillRect(const Rect& r, Color c);
    // A line of `width` pixels just inside the rect's edges.
    void strokeRect(const Rect& r, Color c, int width = 1);
    // Pixel centres of the two ends are joined; `width` in pixels.
    void line(Point from, Point to, Color c, float width = 1.0f);
    void polyline(std::span<const PointF> points, Color c, float width = 1.0f);
    void fillPolygon(std::span<const PointF> points, Color c);

    // Narrows drawing to r (intersected with the current clip) until the matching popClip.
    void pushClip(const Rect& r);
    void popClip();

    // The whole bitmap with its top-left at `at`.
    void drawBitmap(const Bitmap& bitmap, Point at);
    // Frame k of a vertical strip (source y = k * frameHeight) at dest's top-left, clipped
    // to dest. A frame outside the strip is clamped to its first or last frame.
    void drawBitmapFrame(const Bitmap& bitmap, int frame, int frameHeight, const Rect& dest);
    // The same by bitmap id; an id the cache does not hold draws nothing.
    void drawBitmap(int id, Point at);
    void drawBitmapFrame(int id, int frame, int frameHeight, const Rect& dest);
    const Bitmap* bitmap(int id) const;
    // Frame k of a vertical strip with its top-left at `at`, drawn only inside `areas` (parts
    // outside the frame are left alone), all in one pass: the way to draw many small pieces of
    // one picture, such as the bars of a meter.
    void drawBitmapFrameIn(int id, int frame, int frameHeight, Point at, std::span<const Rect> areas);

    // UTF-8 text in the toolkit's font, vertically centred in r and aligned horizontally;
    // text wider than r ends in an ellipsis when `ellipsis` is set, else it is clipped.
    void drawText(std::string_view text, const Rect& r, Align align, Color c, bool ellipsis = true);
    // Advance width of the text in pixels.
    float textWidth(std::string_view text);
    // The size of the text drawn and measured from now on (kFontSize to begin with).
    void setTextSize(double pixels);
    // `text` itself when it fits `maxWidth`, else its longest prefix (whole characters)
    // followed by an ellipsis that fits; just the ellipsis when nothing else does.
    std::string ellipsize(std::string_view text, float maxWidth);

  private:
    cairo_t* cr_;
    const BitmapCache* bitmaps_;
    int clipDepth_ = 0;
};

// The font every context uses: Liberation Sans Regular at 12 px, read straight from its
// file, with fixed rendering options (grey antialiasing, no hinting, unhinted metrics) so
// text renders the same whatever the user's font configuration. Falls back to the system's
// "Liberation Sans" (or "sans-serif") when the file is missing.
inline constexpr const char* kFontPath = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
inline constexpr double kFontSize = 12.0;

// Keeps the font loaded while it lives. Every context holds one; a long-lived owner (a
// frame) holds one too, so the font file is read once per window, not once per redraw.
class FontUse {
  public:
    FontUse();
    ~FontUse();
    FontUse(const FontUse&) = delete;
    FontUse& operator=(const FontUse&) = delete;
};

}  // namespace kf::gui
