#pragma once

#include <cairo.h>

namespace kf::artgen {

// One bitmap drawn in full (all frames of a strip); nullptr for an unknown id.
cairo_surface_t* renderBitmap(int id);

// Four pages side by side: the default main page, the other panels, and the two overlay pages,
// each with controls drawn from their strips at the rectangles of the control layout.
int writePreview(const char* path);

}  // namespace kf::artgen
