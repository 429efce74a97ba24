// A private X server that $DISPLAY points at, for the editor tests, and the pictures
// captured from it.
#pragma once

#include <cairo.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/environment.h"
#include "support/pixels.h"

namespace kf::test {

inline bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        if (std::filesystem::exists(std::filesystem::path(dirs.substr(start, end - start)) / program))
            return true;
        start = end + 1;
    }
    return false;
}

// A private X server that $DISPLAY points at while the object lives; display() stays empty
// when the server did not start.
class Xvfb {
  public:
    static bool installed() { return onPath("Xvfb") && onPath("timeout"); }
    Xvfb() : useIt_("DISPLAY", server_.name().empty() ? std::getenv("DISPLAY") : server_.name().c_str()) {}
    const std::string& display() const { return server_.name(); }

  private:
    VirtualDisplay server_;
    ScopedEnv useIt_;
};

// A PNG read back as 0xRRGGBB pixels, row by row (empty when it cannot be read).
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

inline Picture readPicture(const std::string& path) {
    Picture p;
    cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(image) == CAIRO_STATUS_SUCCESS) {
        p.width = cairo_image_surface_get_width(image);
        p.height = cairo_image_surface_get_height(image);
        const unsigned char* data = cairo_image_surface_get_data(image);
        const int stride = cairo_image_surface_get_stride(image);
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                p.pixels.push_back(reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xFFFFFFu);
    }
    cairo_surface_destroy(image);
    return p;
}

// How many pixels of two equally sized pictures differ by more than `levels` in a channel.
inline std::size_t differingPixels(const Picture& a, const Picture& b, int levels) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        n += pixelsDiffer(a.pixels[i], b.pixels[i], levels);
    return n;
}

inline std::size_t distinctColours(const Picture& p) {
    return std::set<uint32_t>(p.pixels.begin(), p.pixels.end()).size();
}

}  // namespace kf::test
