#include "artwork/artwork.h"

#include "artwork/embedded.h"

namespace kf::artwork {

static_assert(
    [] {
        for (int i = 0; i < kCount; ++i) {
            const BitmapInfo& b = kBitmaps[static_cast<std::size_t>(i)];
            if (b.id != kFirstId + i || b.frames < 1 || b.height % b.frames != 0) return false;
        }
        return true;
    }(),
    "bitmap table: ids in order, strips cut into whole frames");

const BitmapInfo* info(int id) {
    if (id < kFirstId || id > kLastId) return nullptr;
    return &kBitmaps[static_cast<std::size_t>(id - kFirstId)];
}

int frameCount(int id) {
    const BitmapInfo* i = info(id);
    return i ? i->frames : 1;
}

int frameHeight(int id) {
    const BitmapInfo* i = info(id);
    return i ? i->height / i->frames : 0;
}

std::span<const unsigned char> png(int id) {
    if (id < kFirstId || id > kLastId) return {};
    return embeddedPng(id - kFirstId);
}

}  // namespace kf::artwork
