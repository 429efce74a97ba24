#include "preview.h"

#include <cstdio>
#include <map>

#include "artwork/artwork.h"

namespace kf::artgen {
namespace {

struct Put {
    int id, frame;
    int left, top, right, bottom;  // the control's rectangle; the bitmap is clipped to it
};

class Composer {
  public:
    explicit Composer(cairo_t* cr) : cr_(cr) {}
    ~Composer() {
        for (auto& [id, s] : cache_) cairo_surface_destroy(s);
    }
    Composer(const Composer&) = delete;
    Composer& operator=(const Composer&) = delete;

    void put(const Put& p, double ox, double oy) {
        const artwork::BitmapInfo* b = nullptr;
        for (const auto& info : artwork::kBitmaps)
            if (info.id == p.id) b = &info;
        if (!b) return;
        auto it = cache_.find(p.id);
        if (it == cache_.end()) it = cache_.emplace(p.id, renderBitmap(p.id)).first;
        const int fh = b->height / b->frames;
        cairo_save(cr_);
        cairo_translate(cr_, ox, oy);
        cairo_rectangle(cr_, p.left, p.top, p.right - p.left, p.bottom - p.top);
        cairo_clip(cr_);
        cairo_set_source_surface(cr_, it->second, p.left, p.top - p.frame * fh);
        cairo_paint(cr_);
        cairo_restore(cr_);
    }

  private:
    cairo_t* cr_;
    std::map<int, cairo_surface_t*> cache_;
};

// Controls common to both main pages: the top bar, vocoder, master, output row and keyboard.
constexpr Put kMainCommon[] = {
    {1000, 0, 0, 0, 503, 404},      {1031, 0, 225, 3, 328, 16},     {1032, 0, 227, 22, 327, 32},
    {1015, 1, 355, 22, 365, 32},    {1001, 5, 401, 22, 411, 32},    {1001, 3, 425, 22, 435, 32},
    {1001, 7, 456, 22, 466, 32},    {1001, 2, 479, 22, 489, 32},    {1039, 64, 339, 86, 377, 124},
    {1040, 90, 393, 86, 431, 124},  {1039, 30, 447, 86, 485, 124},  {1005, 0, 441, 125, 491, 139},
    {1005, 0, 332, 125, 382, 139},  {1005, 0, 386, 125, 436, 139},  {1039, 100, 15, 284, 53, 322},
    {1005, 0, 14, 322, 54, 336},    {1040, 63, 69, 284, 107, 322},  {1040, 80, 123, 284, 161, 322},
    {1040, 40, 177, 284, 215, 322}, {1005, 0, 63, 322, 113, 336},   {1005, 0, 117, 322, 167, 336},
    {1005, 0, 171, 322, 221, 336},  {1039, 50, 232, 284, 270, 322}, {1039, 20, 286, 284, 324, 322},
    {1005, 0, 227, 322, 277, 336},  {1005, 0, 281, 322, 331, 336},  {1039, 96, 447, 185, 485, 223},
    {1005, 0, 442, 224, 492, 238},  {1044, 63, 14, 336, 30, 398},   {1044, 20, 47, 336, 63, 398},
    {1037, 0, 82, 335, 117, 358},   {1038, 1, 82, 374, 117, 397},   {1036, 3, 85, 360, 113, 372},
    {1007, 0, 401, 241, 491, 253},  {1005, 0, 9, 125, 59, 139},     {1005, 0, 63, 125, 113, 139},
    {1005, 0, 117, 125, 167, 139},  {1005, 0, 171, 125, 221, 139},  {1005, 0, 15, 224, 65, 238},
    {1005, 0, 63, 223, 113, 237},   {1005, 0, 171, 224, 221, 238},  {1005, 0, 226, 224, 276, 238},
    {1005, 0, 280, 224, 330, 238},  {1005, 0, 334, 224, 384, 238},
};

constexpr Put kDefaultPage[] = {
    {1014, 0, 8, 58, 223, 141},     {1010, 0, 124, 43, 214, 55},    {1009, 2, 124, 142, 214, 154},
    {1039, 10, 15, 86, 53, 124},    {1039, 40, 69, 86, 107, 124},   {1039, 70, 123, 86, 161, 124},
    {1039, 90, 177, 86, 215, 124},  {1041, 40, 11, 181, 57, 221},   {1040, 20, 69, 185, 107, 223},
    {1020, 2, 123, 179, 153, 189},  {1023, 2, 124, 215, 154, 225},  {1040, 63, 177, 185, 215, 223},
    {1039, 80, 231, 185, 269, 223}, {1039, 30, 285, 185, 323, 223}, {1039, 110, 339, 185, 377, 223},
    {1006, 2, 279, 142, 330, 154},  {1021, 0, 332, 256, 492, 337},
};

// Pictures first, as the editor creates them, then the controls over them.
constexpr Put kOtherPage[] = {
    {1030, 0, 8, 58, 223, 142},     {1013, 0, 5, 136, 388, 231},     {1012, 3, 124, 43, 214, 55},
    {1009, 1, 124, 142, 214, 154},  {1022, 1, 13, 77, 56, 91},       {1026, 2, 66, 77, 109, 91},
    {1016, 0, 12, 95, 111, 124},    {1040, 63, 124, 86, 162, 124},   {1039, 100, 178, 86, 216, 124},
    {1005, 0, 10, 128, 113, 142},   {1039, 20, 15, 185, 53, 223},    {1039, 60, 69, 185, 107, 223},
    {1039, 90, 123, 185, 161, 223}, {1039, 127, 177, 185, 215, 223}, {1004, 0, 332, 256, 492, 337},
    {1039, 60, 339, 284, 377, 322}, {1039, 70, 393, 284, 431, 322},  {1039, 40, 447, 284, 485, 322},
    {1005, 0, 443, 322, 493, 336},  {1005, 0, 335, 322, 385, 336},   {1005, 0, 389, 322, 439, 336},
    {1008, 2, 401, 241, 491, 253},
};

constexpr Put kOverlayCommon[] = {
    {1000, 0, 0, 0, 503, 404},  {1031, 0, 225, 3, 328, 16},    {1032, 1, 227, 22, 327, 32},
    {1048, 0, 5, 37, 500, 132}, {1018, 0, 227, 113, 327, 128},
};
constexpr Put kBasics[] = {
    {1033, 0, 5, 132, 500, 500}, {1002, 1, 227, 77, 327, 92}, {1034, 0, 227, 95, 327, 110}};
constexpr Put kTips[] = {
    {1035, 0, 5, 132, 500, 500}, {1002, 0, 227, 77, 327, 92}, {1034, 1, 227, 95, 327, 110}};

// The keyboard's four octaves: white keys C..B by shape, black keys over the boundaries.
void keyboard(Composer& c, double ox, double oy, int heldWhite, int heldBlack) {
    constexpr int kShape[7] = {1045, 1046, 1047, 1045, 1046, 1046, 1047};
    constexpr int kBlackAfter[5] = {0, 1, 3, 4, 5};  // black keys follow these white keys
    for (int i = 0; i < 28; ++i) {
        const int x = 128 + 13 * i;
        c.put({kShape[i % 7], i == heldWhite ? 1 : 0, x, 338, x + 13, 403}, ox, oy);
    }
    for (int o = 0; o < 4; ++o)
        for (int k = 0; k < 5; ++k) {
            const int x = 128 + 13 * (o * 7 + kBlackAfter[k] + 1) - 5;
            c.put({1003, o * 5 + k == heldBlack ? 1 : 0, x, 338, x + 10, 378}, ox, oy);
        }
}

}  // namespace

int writePreview(const char* path, const Zoom& z) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 2 * 503 + 8, 2 * 404 + 8);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    {
        Composer c(cr);
        auto page = [&c](const Put* a, std::size_t na, const Put* b, std::size_t nb, double ox, double oy) {
            for (std::size_t i = 0; i < na; ++i) c.put(a[i], ox, oy);
            for (std::size_t i = 0; i < nb; ++i) c.put(b[i], ox, oy);
        };
        page(kMainCommon, std::size(kMainCommon), kDefaultPage, std::size(kDefaultPage), 0, 0);
        keyboard(c, 0, 0, 9, 6);
        page(kMainCommon, std::size(kMainCommon), kOtherPage, std::size(kOtherPage), 511, 0);
        keyboard(c, 511, 0, -1, -1);
        page(kOverlayCommon, std::size(kOverlayCommon), kBasics, std::size(kBasics), 0, 412);
        page(kOverlayCommon, std::size(kOverlayCommon), kTips, std::size(kTips), 511, 412);
    }
    cairo_destroy(cr);
    if (z.scale > 0) {
        // A magnified crop, pixels kept square, for checking small details.
        cairo_surface_t* big = cairo_image_surface_create(CAIRO_FORMAT_RGB24, z.w * z.scale, z.h * z.scale);
        cairo_t* bc = cairo_create(big);
        cairo_scale(bc, z.scale, z.scale);
        cairo_set_source_surface(bc, s, -z.x, -z.y);
        cairo_pattern_set_filter(cairo_get_source(bc), CAIRO_FILTER_NEAREST);
        cairo_paint(bc);
        cairo_destroy(bc);
        cairo_surface_destroy(s);
        s = big;
    }
    const cairo_status_t st = cairo_surface_write_to_png(s, path);
    cairo_surface_destroy(s);
    if (st != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "kestrafone-artwork: cannot write %s\n", path);
        return 1;
    }
    return 0;
}

}  // namespace kf::artgen
