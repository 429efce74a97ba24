// The cairo objects behind the toolkit's drawing types, for the Linux drawing and window code.
#pragma once

#include <cairo.h>

#include "gui/bitmap_cache.h"
#include "gui/draw_context.h"

namespace kf::gui {

// An image surface over the Surface's own pixel words.
struct Surface::Native {
    cairo_surface_t* surface;
};

struct Bitmap::Native {
    cairo_surface_t* surface;
};

struct DrawContext::Native {
    cairo_t* cr;
    int clipDepth = 0;
};

}  // namespace kf::gui
