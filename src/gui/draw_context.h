// Drawing. DrawContext is the toolkit's one door to the platform's 2-D library (cairo on
// Linux, GDI+ on Windows): views, menus and the frame draw only through it, so neither
// library shows above this header. A Surface is an off-screen RGB picture (the frame's back
// buffer, a screenshot) that a DrawContext draws into. The build picks one implementation
// (linux/ or win32/); what both share is in draw_context.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gui/geometry.h"

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

// An opaque 24-bit picture in memory: one 32-bit word per pixel, 0x00RRGGBB, rows top to
// bottom without padding (the layout of cairo's RGB24 and GDI+'s 32bppRGB alike).
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
    // Replaces the picture with `words` (0x00RRGGBB, rows top to bottom), as many as it holds.
    void assign(std::span<const std::uint32_t> words);
    // `path` is UTF-8.
    bool writePng(const std::string& path) const;
    // The picture as PNG file bytes (empty when encoding failed).
    std::vector<unsigned char> encodePng() const;
    // The pixel words, with all drawing so far in them; valid while the surface lives.
    const std::uint32_t* data() const;

    // The drawing library's object for the picture; only the platform's code looks inside.
    struct Native;
    Native& native() const { return *native_; }

  private:
    int width_;
    int height_;
    std::vector<std::uint32_t> pixels_;
    std::unique_ptr<Native> native_;
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
    // Frame k of a vertical strip with its top-left at `at`, drawn only inside `areas`, which
    // do not overlap (parts outside the frame are left alone), all in one call: the way to
    // draw many small pieces of one picture, such as the bars of a meter.
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
    struct Native;  // the platform's drawing state
    // The font's ascent and descent above and below the baseline at the current size.
    struct FontExtents {
        double ascent = 0.0;
        double descent = 0.0;
    };
    FontExtents fontExtents();
    // Valid UTF-8 (see validUtf8) with its baseline's left end at `origin`, clipped to `clip`.
    void showText(const std::string& text, Point origin, const Rect& clip, Color c);
    float measure(const std::string& text);
    // `source` (inside the bitmap) with its top-left at `at`, pixel for pixel.
    void blit(const Bitmap& bitmap, const Rect& source, Point at);
    // The bitmap with its top-left at `origin`, drawn only where `areas` meet `bound`.
    void blitIn(const Bitmap& bitmap, Point origin, const Rect& bound, std::span<const Rect> areas);

    std::unique_ptr<Native> native_;
    const BitmapCache* bitmaps_;
};

// The font every context uses: Liberation Sans Regular (the build's KF_FONT_FILE) at 12 px
// with fixed rendering options (grey antialiasing, no hinting, unhinted metrics), so text
// renders the same whatever the user's font configuration. Linux reads the installed file
// (falling back to the system's "Liberation Sans", or "sans-serif", when it is missing);
// Windows carries the file inside the module and never looks at the machine's fonts.
inline constexpr double kFontSize = 12.0;

// Keeps the drawing library and the font loaded while it lives, so that windows opened and
// closed meanwhile do not load them anew each time (a font loaded per window is never quite
// given back, by cairo's caches or by Windows' font table). Hold one for as long as windows
// may come and go: the editor holds one for the plug-in instance's life. On Linux the font
// stays loaded with the module and this costs nothing. Windows forbids starting or stopping
// GDI+ where a module is unloaded (DllMain): there GDI+ and the font, started by the first
// window, stay until the last use (or the last picture, bitmap or context) goes.
class DrawingUse {
  public:
    DrawingUse();
    ~DrawingUse();
    DrawingUse(const DrawingUse&) = delete;
    DrawingUse& operator=(const DrawingUse&) = delete;
};

// The code point that starts at byte `at` of UTF-8 `text`, moving `at` past it. A byte that
// does not begin a well-formed sequence (a file name in another encoding) reads as U+FFFD and
// moves on by one, so such text still shows and measures instead of failing.
char32_t nextCodePoint(std::string_view text, std::size_t& at);
// `text` with each such byte replaced by U+FFFD.
std::string validUtf8(std::string_view text);

}  // namespace kf::gui
