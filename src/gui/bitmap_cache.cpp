#include "gui/bitmap_cache.h"

namespace kf::gui {

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
