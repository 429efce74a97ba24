// Every bitmap of the editor as a drawing function of one frame. A strip's function is called
// once per frame with the origin at the frame's top-left corner and drawing clipped to it.
#pragma once

#include <cairo.h>

#include "artwork/artwork.h"

namespace kf::artgen {

struct Frame {
    int width, height;  // of one frame
    int index, count;   // which frame of how many (0 of 1 for a single picture)
};

using DrawFn = void (*)(cairo_t* cr, const Frame& f);

// The drawing function for a bitmap.
DrawFn pictureFor(artwork::Bitmap id);

// Drawings defined in the other files of the generator.
void drawUnipolarKnob(cairo_t* cr, const Frame& f);
void drawBipolarKnob(cairo_t* cr, const Frame& f);
void drawWaveKnob(cairo_t* cr, const Frame& f);
void drawWheel(cairo_t* cr, const Frame& f);
void drawMeterLed(cairo_t* cr, const Frame& f);
void drawIndicatorLed(cairo_t* cr, const Frame& f);
void drawBlackKey(cairo_t* cr, const Frame& f);
void drawWhiteKeyC(cairo_t* cr, const Frame& f);
void drawWhiteKeyD(cairo_t* cr, const Frame& f);
void drawWhiteKeyE(cairo_t* cr, const Frame& f);

}  // namespace kf::artgen
