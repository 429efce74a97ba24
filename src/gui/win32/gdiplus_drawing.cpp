// Drawing on Windows, with GDI+ (gdiplus.dll, part of every Windows since XP): surfaces over
// the toolkit's pixel memory, bitmaps decoded by GDI+'s PNG codec, and text in the module's
// own copy of the font, laid out from the font's tables (font_metrics.h) so it measures and
// sits as on Linux.
#include <shlwapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "gui/win32/embedded_font.h"
#include "gui/win32/gdiplus_native.h"

namespace kf::gui {

using namespace Gdiplus::DllExports;
using Gdiplus::Ok;

namespace {

Gdiplus::ARGB argb(Color c) {
    return (Gdiplus::ARGB{c.a} << 24) | (Gdiplus::ARGB{c.r} << 16) | (Gdiplus::ARGB{c.g} << 8) | c.b;
}

class SolidBrush {
  public:
    explicit SolidBrush(Color c) { GdipCreateSolidFill(argb(c), &brush_); }
    ~SolidBrush() {
        if (brush_) GdipDeleteBrush(brush_);
    }
    SolidBrush(const SolidBrush&) = delete;
    SolidBrush& operator=(const SolidBrush&) = delete;
    Gdiplus::GpBrush* get() const { return brush_; }

  private:
    Gdiplus::GpSolidFill* brush_ = nullptr;
};

class Pen {
  public:
    Pen(Color c, float width, Gdiplus::LineCap cap) {
        if (GdipCreatePen1(argb(c), width, Gdiplus::UnitPixel, &pen_) != Ok) return;
        GdipSetPenStartCap(pen_, cap);
        GdipSetPenEndCap(pen_, cap);
        GdipSetPenLineJoin(pen_, Gdiplus::LineJoinRound);
    }
    ~Pen() {
        if (pen_) GdipDeletePen(pen_);
    }
    Pen(const Pen&) = delete;
    Pen& operator=(const Pen&) = delete;
    Gdiplus::GpPen* get() const { return pen_; }

  private:
    Gdiplus::GpPen* pen_ = nullptr;
};

std::vector<Gdiplus::PointF> toGdiplus(std::span<const PointF> points) {
    std::vector<Gdiplus::PointF> out;
    out.reserve(points.size());
    for (const PointF& p : points) out.emplace_back(p.x, p.y);
    return out;
}

bool pngEncoder(CLSID& clsid) {
    UINT count = 0, bytes = 0;
    if (GdipGetImageEncodersSize(&count, &bytes) != Ok || bytes == 0) return false;
    std::vector<unsigned char> buffer(bytes);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (GdipGetImageEncoders(count, bytes, codecs) != Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType && std::wstring_view(codecs[i].MimeType) == L"image/png") {
            clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

std::wstring widen(const std::string& utf8) {
    const int size = static_cast<int>(utf8.size());
    const int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), wide);
    return out;
}

}  // namespace

// ---- GdiplusSession ----

namespace {

struct Sessions {
    std::mutex mutex;
    // GDI+ starts and shuts down one thread at a time: a session may end on one thread while
    // the next begins on another.
    std::mutex lifecycle;
    std::weak_ptr<GdiplusSession> current;
    std::shared_ptr<GdiplusSession> kept;  // while keepers > 0
    int keepers = 0;
};

// Never destroyed: a host that unloads the module with an instance still open must not have
// GDI+ shut down from DllMain by a static destructor; it then leaves GDI+ running instead.
Sessions& sessions() {
    static auto* all = new Sessions;
    return *all;
}

}  // namespace

std::shared_ptr<GdiplusSession> GdiplusSession::acquire() {
    Sessions& all = sessions();
    std::lock_guard lock(all.mutex);
    std::shared_ptr<GdiplusSession> session = all.current.lock();
    if (!session) {
        session.reset(new GdiplusSession);
        all.current = session;
    }
    if (all.keepers > 0) all.kept = session;
    return session;
}

void GdiplusSession::keep() {
    Sessions& all = sessions();
    std::lock_guard lock(all.mutex);
    if (all.keepers++ == 0) all.kept = all.current.lock();
}

void GdiplusSession::letGo() {
    std::shared_ptr<GdiplusSession> last;  // shut down, if it is the last use, after the lock
    Sessions& all = sessions();
    std::lock_guard lock(all.mutex);
    if (all.keepers > 0 && --all.keepers == 0) last = std::move(all.kept);
}

DrawingUse::DrawingUse() {
    GdiplusSession::keep();
}

DrawingUse::~DrawingUse() {
    GdiplusSession::letGo();
}

GdiplusSession::GdiplusSession() : metrics_(embeddedFont()) {
    std::lock_guard lock(sessions().lifecycle);
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Ok) {
        token_ = 0;
        return;
    }
    const auto font = embeddedFont();
    if (GdipNewPrivateFontCollection(&fonts_) != Ok) return;
    if (GdipPrivateAddMemoryFont(fonts_, font.data(), static_cast<INT>(font.size())) != Ok) return;
    // The collection's own family, cloned so that ours is released like any other object.
    Gdiplus::GpFontFamily* listed = nullptr;
    INT found = 0;
    if (GdipGetFontCollectionFamilyList(fonts_, 1, &listed, &found) == Ok && found == 1)
        GdipCloneFontFamily(listed, &family_);
}

GdiplusSession::~GdiplusSession() {
    std::lock_guard lock(sessions().lifecycle);
    if (family_) GdipDeleteFontFamily(family_);
    if (fonts_) GdipDeletePrivateFontCollection(&fonts_);
    if (token_) Gdiplus::GdiplusShutdown(token_);
}

// ---- Surface ----

Surface::Surface(int width, int height)
    : width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      pixels_(static_cast<std::size_t>(width_) * height_, 0u),
      native_(std::make_unique<Native>()) {
    native_->session = GdiplusSession::acquire();
    if (native_->session->running()) {
        GdipCreateBitmapFromScan0(width_, height_, width_ * 4, PixelFormat32bppRGB,
                                  reinterpret_cast<BYTE*>(pixels_.data()), &native_->bitmap);
    }
}

Surface::~Surface() {
    if (native_->bitmap) GdipDisposeImage(native_->bitmap);
}

const std::uint32_t* Surface::data() const {
    return pixels_.data();
}

// The GDI+ bitmap draws straight into the pixel words: nothing to tell it.
void Surface::assign(std::span<const std::uint32_t> words) {
    std::copy_n(words.begin(), std::min(words.size(), pixels_.size()), pixels_.begin());
}

std::vector<unsigned char> Surface::encodePng() const {
    std::vector<unsigned char> out;
    CLSID png;
    if (!native_->bitmap || !pngEncoder(png)) return out;
    IStream* stream = SHCreateMemStream(nullptr, 0);
    if (!stream) return out;
    STATSTG stat{};
    if (GdipSaveImageToStream(native_->bitmap, stream, &png, nullptr) == Ok &&
        stream->Stat(&stat, STATFLAG_NONAME) == S_OK) {
        out.resize(static_cast<std::size_t>(stat.cbSize.QuadPart));
        LARGE_INTEGER start{};
        ULONG read = 0;
        if (stream->Seek(start, STREAM_SEEK_SET, nullptr) != S_OK ||
            stream->Read(out.data(), static_cast<ULONG>(out.size()), &read) != S_OK || read != out.size())
            out.clear();
    }
    stream->Release();
    return out;
}

bool Surface::writePng(const std::string& path) const {
    const std::vector<unsigned char> png = encodePng();
    if (png.empty()) return false;
    std::FILE* file = _wfopen(widen(path).c_str(), L"wb");
    if (!file) return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && written;
}

// ---- Bitmap ----

Bitmap::Bitmap(std::unique_ptr<Native> native, int width, int height)
    : native_(std::move(native)), width_(width), height_(height) {}

Bitmap::~Bitmap() {
    if (native_->bitmap) GdipDisposeImage(native_->bitmap);
}

std::unique_ptr<Bitmap> Bitmap::decodePng(std::span<const unsigned char> png) {
    if (png.empty()) return nullptr;
    auto native = std::make_unique<Native>();
    native->session = GdiplusSession::acquire();
    if (!native->session->running()) return nullptr;
    IStream* stream = SHCreateMemStream(png.data(), static_cast<UINT>(png.size()));
    if (!stream) return nullptr;
    Gdiplus::GpBitmap* decoded = nullptr;
    const bool read = GdipCreateBitmapFromStream(stream, &decoded) == Ok;
    stream->Release();
    if (!read) return nullptr;
    // Copied out of the codec's bitmap, which would keep the stream, into premultiplied
    // pixels of our own.
    UINT width = 0, height = 0;
    GdipGetImageWidth(decoded, &width);
    GdipGetImageHeight(decoded, &height);
    Gdiplus::BitmapData locked{};
    const Gdiplus::GpRect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    bool copied = false;
    if (width > 0 && height > 0 &&
        GdipBitmapLockBits(decoded, &all, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &locked) == Ok) {
        native->pixels.resize(static_cast<std::size_t>(width) * height);
        for (UINT y = 0; y < height; ++y) {
            const auto* row = static_cast<const unsigned char*>(locked.Scan0) +
                              static_cast<std::ptrdiff_t>(y) * locked.Stride;
            std::copy_n(reinterpret_cast<const std::uint32_t*>(row), width,
                        native->pixels.begin() + y * width);
        }
        GdipBitmapUnlockBits(decoded, &locked);
        copied = true;
    }
    GdipDisposeImage(decoded);
    if (!copied ||
        GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height),
                                  static_cast<INT>(width * 4), PixelFormat32bppPARGB,
                                  reinterpret_cast<BYTE*>(native->pixels.data()), &native->bitmap) != Ok)
        return nullptr;
    return std::make_unique<Bitmap>(std::move(native), static_cast<int>(width), static_cast<int>(height));
}

// ---- DrawContext ----

DrawContext::DrawContext(Surface& target, const BitmapCache* bitmaps)
    : native_(std::make_unique<Native>()), bitmaps_(bitmaps) {
    native_->session = target.native().session;
    Gdiplus::GpGraphics*& g = native_->graphics;
    if (!target.native().bitmap || GdipGetImageGraphicsContext(target.native().bitmap, &g) != Ok) {
        g = nullptr;
        return;
    }
    // Pixel (x, y) covers x..x+1 and y..y+1, as in cairo: whole-number rects fill whole
    // pixels, and a bitmap drawn at its own size lands pixel for pixel, without the half-pixel
    // shift of GDI+'s default.
    GdipSetPixelOffsetMode(g, Gdiplus::PixelOffsetModeHalf);
    GdipSetInterpolationMode(g, Gdiplus::InterpolationModeNearestNeighbor);
    GdipSetTextRenderingHint(g, Gdiplus::TextRenderingHintAntiAlias);
}

DrawContext::~DrawContext() {
    if (native_->font) GdipDeleteFont(native_->font);
    if (native_->graphics) GdipDeleteGraphics(native_->graphics);
}

void DrawContext::fillRect(const Rect& r, Color c) {
    Gdiplus::GpGraphics* g = native_->graphics;
    if (!g || r.empty()) return;
    GdipSetSmoothingMode(g, Gdiplus::SmoothingModeNone);
    SolidBrush brush(c);
    GdipFillRectangleI(g, brush.get(), r.left, r.top, r.width(), r.height());
}

void DrawContext::line(Point from, Point to, Color c, float width) {
    Gdiplus::GpGraphics* g = native_->graphics;
    if (!g) return;
    GdipSetSmoothingMode(g, Gdiplus::SmoothingModeAntiAlias);
    // Square caps through pixel centres, as on Linux.
    Pen pen(c, width, Gdiplus::LineCapSquare);
    GdipDrawLine(g, pen.get(), from.x + 0.5f, from.y + 0.5f, to.x + 0.5f, to.y + 0.5f);
}

void DrawContext::polyline(std::span<const PointF> points, Color c, float width) {
    Gdiplus::GpGraphics* g = native_->graphics;
    if (!g || points.size() < 2) return;
    GdipSetSmoothingMode(g, Gdiplus::SmoothingModeAntiAlias);
    Pen pen(c, width, Gdiplus::LineCapFlat);
    const auto path = toGdiplus(points);
    GdipDrawLines(g, pen.get(), path.data(), static_cast<INT>(path.size()));
}

void DrawContext::fillPolygon(std::span<const PointF> points, Color c) {
    Gdiplus::GpGraphics* g = native_->graphics;
    if (!g || points.size() < 3) return;
    GdipSetSmoothingMode(g, Gdiplus::SmoothingModeAntiAlias);
    SolidBrush brush(c);
    const auto path = toGdiplus(points);
    GdipFillPolygon(g, brush.get(), path.data(), static_cast<INT>(path.size()), Gdiplus::FillModeWinding);
}

void DrawContext::pushClip(const Rect& r) {
    Gdiplus::GpGraphics* g = native_->graphics;
    if (!g) return;
    Gdiplus::GraphicsState state = 0;
    GdipSaveGraphics(g, &state);
    native_->clips.push_back(state);
    GdipSetClipRectI(g, r.left, r.top, std::max(r.width(), 0), std::max(r.height(), 0),
                     Gdiplus::CombineModeIntersect);
}

void DrawContext::popClip() {
    if (native_->clips.empty()) return;
    GdipRestoreGraphics(native_->graphics, native_->clips.back());
    native_->clips.pop_back();
}

void DrawContext::blit(const Bitmap& bitmap, const Rect& source, Point at) {
    Gdiplus::GpGraphics* g = native_->graphics;
    if (!g || !bitmap.native().bitmap) return;
    GdipDrawImageRectRectI(g, bitmap.native().bitmap, at.x, at.y, source.width(), source.height(),
                           source.left, source.top, source.width(), source.height(), Gdiplus::UnitPixel,
                           nullptr, nullptr, nullptr);
}

void DrawContext::blitIn(const Bitmap& bitmap, Point origin, const Rect& bound, std::span<const Rect> areas) {
    for (const Rect& area : areas) {
        const Rect r = area.intersection(bound);
        if (!r.empty()) blit(bitmap, r.offset(-origin.x, -origin.y), r.topLeft());
    }
}

void DrawContext::setTextSize(double pixels) {
    if (pixels == native_->textSize) return;
    native_->textSize = pixels;
    if (native_->font) GdipDeleteFont(native_->font);
    native_->font = nullptr;
}

float DrawContext::measure(const std::string& text) {
    const FontMetrics& metrics = native_->session->metrics();
    if (!metrics.valid()) return 0.0f;
    long units = 0;
    for (std::size_t at = 0; at < text.size();)
        units += metrics.advance(metrics.glyph(nextCodePoint(text, at)));
    return static_cast<float>(units * native_->textSize / metrics.unitsPerEm());
}

DrawContext::FontExtents DrawContext::fontExtents() {
    const FontMetrics& metrics = native_->session->metrics();
    if (!metrics.valid()) return {};
    const double scale = native_->textSize / metrics.unitsPerEm();
    return {metrics.ascender() * scale, metrics.descender() * scale};
}

void DrawContext::showText(const std::string& text, Point origin, const Rect& clip, Color c) {
    Gdiplus::GpGraphics* g = native_->graphics;
    const FontMetrics& metrics = native_->session->metrics();
    if (!g || !metrics.valid() || !native_->session->family()) return;
    if (!native_->font &&
        GdipCreateFont(native_->session->family(), static_cast<Gdiplus::REAL>(native_->textSize),
                       Gdiplus::FontStyleRegular, Gdiplus::UnitPixel, &native_->font) != Ok) {
        native_->font = nullptr;
        return;
    }
    // Each glyph at its unhinted pen position rounded to a whole pixel, where cairo's image
    // backend puts it too.
    std::vector<UINT16> glyphs;
    std::vector<Gdiplus::PointF> positions;
    const double scale = native_->textSize / metrics.unitsPerEm();
    long units = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::uint16_t glyph = metrics.glyph(nextCodePoint(text, at));
        glyphs.push_back(glyph);
        positions.emplace_back(static_cast<float>(std::floor(origin.x + units * scale + 0.5)),
                               static_cast<float>(origin.y));
        units += metrics.advance(glyph);
    }
    Gdiplus::GraphicsState state = 0;
    GdipSaveGraphics(g, &state);
    GdipSetClipRectI(g, clip.left, clip.top, clip.width(), clip.height(), Gdiplus::CombineModeIntersect);
    SolidBrush brush(c);
    // No flags: the text is glyph indices, each at the position given.
    GdipDrawDriverString(g, glyphs.data(), static_cast<INT>(glyphs.size()), native_->font, brush.get(),
                         positions.data(), 0, nullptr);
    GdipRestoreGraphics(g, state);
}

}  // namespace kf::gui
