// The GDI+ objects behind the toolkit's drawing types, for the Windows drawing and window code.
#pragma once

#include <windows.h>
// GDI+'s headers need the COM declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <gdiplus.h>
#include <objidl.h>

#include <memory>
#include <vector>

#include "gui/bitmap_cache.h"
#include "gui/draw_context.h"
#include "gui/win32/font_metrics.h"

namespace kf::gui {

// GDI+ and the toolkit's private font, running while any picture, bitmap or context of the
// toolkit lives, or any DrawingUse once they run: the first to need them starts them, the
// last to go shuts them down.
class GdiplusSession {
  public:
    static std::shared_ptr<GdiplusSession> acquire();
    // What DrawingUse counts.
    static void keep();
    static void letGo();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    bool running() const { return token_ != 0; }
    // The font's family, loaded from the module's own copy; null when GDI+ refused it.
    Gdiplus::GpFontFamily* family() const { return family_; }
    const FontMetrics& metrics() const { return metrics_; }

  private:
    GdiplusSession();

    ULONG_PTR token_ = 0;
    Gdiplus::GpFontCollection* fonts_ = nullptr;
    Gdiplus::GpFontFamily* family_ = nullptr;
    FontMetrics metrics_;
};

// A GDI+ bitmap over the Surface's own pixel words.
struct Surface::Native {
    std::shared_ptr<GdiplusSession> session;
    Gdiplus::GpBitmap* bitmap = nullptr;
};

// A GDI+ bitmap over decoded, premultiplied pixels of our own (GDI+'s fastest to draw).
struct Bitmap::Native {
    std::shared_ptr<GdiplusSession> session;
    std::vector<std::uint32_t> pixels;
    Gdiplus::GpBitmap* bitmap = nullptr;
};

struct DrawContext::Native {
    std::shared_ptr<GdiplusSession> session;
    Gdiplus::GpGraphics* graphics = nullptr;
    std::vector<Gdiplus::GraphicsState> clips;
    double textSize = kFontSize;
    Gdiplus::GpFont* font = nullptr;  // at textSize; made when text first needs it
};

}  // namespace kf::gui
