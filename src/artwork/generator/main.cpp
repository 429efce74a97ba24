// kestrafone-artwork OUTDIR: draws the editor's 49 bitmaps into OUTDIR/1000.png .. 1048.png.
// How they sit together is judged on the editor's own off-screen page
// (scripts/update-editor-golden), which places them from the editor's layout table.
#include <cairo.h>

#include <cstdio>
#include <exception>
#include <string>

#include "artwork/artwork.h"
#include "paint.h"
#include "pictures.h"

namespace kf::artgen {
namespace {

cairo_surface_t* render(const artwork::BitmapInfo& b) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, b.width, b.height);
    cairo_t* cr = cairo_create(s);
    const DrawFn fn = pictureFor(b.id);
    const int fh = b.height / b.frames;
    for (int k = 0; k < b.frames; ++k) {
        cairo_save(cr);
        cairo_translate(cr, 0, k * fh);
        cairo_rectangle(cr, 0, 0, b.width, fh);
        cairo_clip(cr);
        fn(cr, Frame{b.width, fh, k, b.frames});
        cairo_restore(cr);
    }
    cairo_destroy(cr);
    return s;
}

int writeAll(const std::string& dir) {
    for (const artwork::BitmapInfo& b : artwork::kBitmaps) {
        cairo_surface_t* s = render(b);
        const std::string path = dir + "/" + std::to_string(b.id) + ".png";
        const cairo_status_t st = cairo_surface_write_to_png(s, path.c_str());
        cairo_surface_destroy(s);
        if (st != CAIRO_STATUS_SUCCESS) {
            std::fprintf(stderr, "kestrafone-artwork: cannot write %s: %s\n", path.c_str(),
                         cairo_status_to_string(st));
            return 1;
        }
    }
    return 0;
}

}  // namespace

}  // namespace kf::artgen

int main(int argc, char** argv) {
    try {
        kf::artgen::Fonts fonts;
        if (argc == 2 && argv[1][0] != '-') return kf::artgen::writeAll(argv[1]);
        std::fprintf(stderr, "usage: kestrafone-artwork OUTDIR\n");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrafone-artwork: %s\n", e.what());
        return 1;
    }
}
