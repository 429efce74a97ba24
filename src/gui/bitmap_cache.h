// Bitmaps by id, decoded from PNG bytes that the caller's source function supplies (the
// toolkit has no artwork of its own). One cache is shared by every open window of the
// process: the first acquire() decodes every id of its range, the last release() frees
// them, so the pictures live exactly while some window needs them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>

namespace kf::gui {

// A decoded picture. Immutable once decoded, so several windows may draw it at once.
class Bitmap {
  public:
    // The drawing library's picture; only the platform's drawing code looks inside.
    struct Native;

    Bitmap(std::unique_ptr<Native> native, int width, int height);
    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    Native& native() const { return *native_; }

    // Decodes PNG file bytes; nothing when they are not a readable PNG.
    static std::unique_ptr<Bitmap> decodePng(std::span<const unsigned char> png);

  private:
    std::unique_ptr<Native> native_;
    int width_;
    int height_;
};

// The PNG bytes of a bitmap id; empty when there is none.
using BitmapSource = std::function<std::span<const unsigned char>(int id)>;

class BitmapCache {
  public:
    // Serves ids firstId..lastId (inclusive) from `source`.
    BitmapCache(BitmapSource source, int firstId, int lastId);
    ~BitmapCache();
    BitmapCache(const BitmapCache&) = delete;
    BitmapCache& operator=(const BitmapCache&) = delete;

    // Takes one use; the first use decodes every id of the range. Thread-safe.
    void acquire();
    // Gives one use back; the last frees every bitmap. Extra releases are ignored.
    void release();

    // The bitmap of `id` while some use is held; nullptr outside the range, for an id whose
    // bytes are missing or unreadable, or while no use is held. Safe while a use is held.
    const Bitmap* get(int id) const;

    int useCount() const;
    // How many times the range has been decoded so far (for checking the sharing).
    int decodeCount() const;

  private:
    BitmapSource source_;
    int firstId_;
    int lastId_;
    mutable std::mutex mutex_;
    int uses_ = 0;
    int decodes_ = 0;
    std::map<int, std::unique_ptr<Bitmap>> bitmaps_;
};

}  // namespace kf::gui
