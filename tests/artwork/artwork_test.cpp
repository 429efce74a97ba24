// The embedded artwork: every id decodes at its table size, the committed pictures are exactly
// what the generator draws today, and knob frames show their pointer at the frame's angle.
#include "artwork/artwork.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>

#include "support/temp_files.h"

namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

struct Reader {
    std::span<const unsigned char> bytes;
    std::size_t at = 0;
};

Surface decode(std::span<const unsigned char> png) {
    Reader r{png};
    auto read = [](void* closure, unsigned char* data, unsigned int length) {
        auto* rd = static_cast<Reader*>(closure);
        if (rd->bytes.size() - rd->at < length) return CAIRO_STATUS_READ_ERROR;
        std::memcpy(data, rd->bytes.data() + rd->at, length);
        rd->at += length;
        return CAIRO_STATUS_SUCCESS;
    };
    Surface s(cairo_image_surface_create_from_png_stream(read, &r), cairo_surface_destroy);
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) s.reset();
    return s;
}

// The pixel at x, y as 0xRRGGBB (alpha dropped: the artwork is opaque).
uint32_t pixel(cairo_surface_t* s, int x, int y) {
    const unsigned char* row =
        cairo_image_surface_get_data(s) + std::ptrdiff_t{y} * cairo_image_surface_get_stride(s);
    uint32_t v;
    std::memcpy(&v, row + std::ptrdiff_t{4} * x, 4);
    return v & 0xffffffu;
}

TEST(Artwork, EveryIdDecodesAtItsSizeAndNothingOutsideTheRange) {
    for (int id = kf::artwork::kFirstId; id <= kf::artwork::kLastId; ++id) {
        SCOPED_TRACE(id);
        const kf::artwork::BitmapInfo* b = kf::artwork::info(id);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->id, id);
        EXPECT_EQ(b->height % b->frames, 0);
        Surface s = decode(kf::artwork::png(id));
        ASSERT_TRUE(s);
        EXPECT_EQ(cairo_image_surface_get_width(s.get()), b->width);
        EXPECT_EQ(cairo_image_surface_get_height(s.get()), b->height);
    }
    for (int id : {0, 999, 1049, -1000}) {
        EXPECT_EQ(kf::artwork::info(id), nullptr);
        EXPECT_TRUE(kf::artwork::png(id).empty());
    }
}

// Compares pixels, not files, so that another zlib's compression does not count as drift.
TEST(Artwork, RegeneratedPicturesEqualTheEmbeddedOnes) {
    kf::test::TempDir dir;
    const std::string command = std::string("'") + KF_ARTWORK_GENERATOR + "' '" + dir.path().string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;  // NOLINT(concurrency-mt-unsafe): one thread
    for (const kf::artwork::BitmapInfo& b : kf::artwork::kBitmaps) {
        SCOPED_TRACE(b.id);
        const kf::test::Bytes fresh = kf::test::readBytes(dir.file(std::to_string(b.id) + ".png"));
        Surface now = decode(fresh), embedded = decode(kf::artwork::png(b.id));
        ASSERT_TRUE(now);
        ASSERT_TRUE(embedded);
        ASSERT_EQ(cairo_image_surface_get_width(now.get()), b.width);
        ASSERT_EQ(cairo_image_surface_get_height(now.get()), b.height);
        int differing = 0;
        for (int y = 0; y < b.height; ++y)
            for (int x = 0; x < b.width; ++x)
                differing += pixel(now.get(), x, y) != pixel(embedded.get(), x, y);
        EXPECT_EQ(differing, 0) << "run scripts/make-artwork and commit resources/artwork";
    }
}

// The pointer is the only near-white part of a knob's body; the angle of its pixels' centroid about
// the frame centre, clockwise from 12 o'clock, must be the frame's angle.
TEST(Artwork, KnobFramesShowThePointerAtTheirAngle) {
    for (int id : {kf::artwork::unipolar_knob, kf::artwork::bipolar_knob, kf::artwork::wave_knob}) {
        const kf::artwork::BitmapInfo* b = kf::artwork::info(id);
        Surface s = decode(kf::artwork::png(id));
        ASSERT_TRUE(s);
        const int fh = b->height / b->frames;
        const double cx = b->width / 2.0, cy = fh / 2.0;
        for (int k : {0, 17, 63, 64, 100, 127}) {
            SCOPED_TRACE(testing::Message() << id << " frame " << k);
            double sx = 0, sy = 0, n = 0;
            for (int y = 0; y < fh; ++y)
                for (int x = 0; x < b->width; ++x) {
                    const uint32_t p = pixel(s.get(), x, k * fh + y);
                    const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                    // Inside the knob body only: the value ring around it has marks of its own.
                    if (dx * dx + dy * dy > 0.13 * fh * fh) continue;
                    if (((p >> 16) & 0xff) > 200 && ((p >> 8) & 0xff) > 200 && (p & 0xff) > 200) {
                        sx += dx;
                        sy += dy;
                        ++n;
                    }
                }
            ASSERT_GT(n, 4);
            const double angle = std::atan2(sx, -sy) * 180.0 / std::numbers::pi;
            EXPECT_NEAR(angle, -135.0 + 270.0 * k / 127.0, 4.0);
        }
    }
}

}  // namespace
