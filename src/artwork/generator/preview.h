#pragma once

#include <cairo.h>

namespace kf::artgen {

// One bitmap drawn in full (all frames of a strip); nullptr for an unknown id.
cairo_surface_t* renderBitmap(int id);

// Four pages side by side: the default main page, the other panels, and the two overlay pages,
// each with controls drawn from their strips at the rectangles of the control layout; with a
// zoom, only the rectangle x, y, w, h of that composition, magnified.
struct Zoom {
    int x = 0, y = 0, w = 0, h = 0, scale = 0;  // scale 0: the whole composition, unmagnified
};
int writePreview(const char* path, const Zoom& zoom);

}  // namespace kf::artgen
