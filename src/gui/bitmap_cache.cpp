#include "gui/bitmap_cache.h"

#include <cairo.h>

#include <cstring>

namespace kf::gui {

namespace {

struct PngReader {
    std::span<const unsigned char> bytes;
    std::size_t offset = 0;
};

cairo_status_t readPng(void* closure, unsigned char* data, unsigned int length) {
    auto* reader = static_cast<PngReader*>(closure);
    if (reader->bytes.size() - reader->offset < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, reader->bytes.data() + reader->offset, length);
    reader->offset += length;
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

Bitmap::Bitmap(cairo_surface_t* surface)
    : surface_(surface),
      width_(cairo_image_surface_get_width(surface)),
      height_(cairo_image_surface_get_height(surface)) {}

Bitmap::~Bitmap() {
    cairo_surface_destroy(surface_);
}

std::unique_ptr<Bitmap> Bitmap::decodePng(std::span<const unsigned char> png) {
    if (png.empty()) return nullptr;
    PngReader reader{png};
    cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(readPng, &reader);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return std::make_unique<Bitmap>(surface);
}

BitmapCache::BitmapCache(BitmapSource source, int firstId, int lastId)
    : source_(std::move(source)), firstId_(firstId), lastId_(lastId) {}

BitmapCache::~BitmapCache() = default;

void BitmapCache::acquire() {
    std::lock_guard lock(mutex_);
    if (uses_++ > 0) return;
    // Decoding under the lock: a second window opening meanwhile waits for the pictures
    // instead of seeing a half-filled cache.
    for (int id = firstId_; id <= lastId_; ++id) {
        if (auto bitmap = Bitmap::decodePng(source_ ? source_(id) : std::span<const unsigned char>{})) {
            bitmaps_.emplace(id, std::move(bitmap));
        }
    }
    ++decodes_;
}

void BitmapCache::release() {
    std::lock_guard lock(mutex_);
    if (uses_ == 0) return;
    if (--uses_ == 0) bitmaps_.clear();
}

const Bitmap* BitmapCache::get(int id) const {
    // The map changes only on the first acquire and the last release; a caller holding a
    // use sees it settled, so the lookup needs no lock.
    auto it = bitmaps_.find(id);
    return it == bitmaps_.end() ? nullptr : it->second.get();
}

int BitmapCache::useCount() const {
    std::lock_guard lock(mutex_);
    return uses_;
}

int BitmapCache::decodeCount() const {
    std::lock_guard lock(mutex_);
    return decodes_;
}

}  // namespace kf::gui
