#include "gui/win32/font_metrics.h"

#include <string_view>

namespace kf::gui {

namespace {

// Big-endian fields; every read is bounds-checked, so a damaged font reads as zeros.
struct Reader {
    std::span<const std::uint8_t> bytes;
    std::uint32_t u16(std::size_t at) const {
        return at + 2 <= bytes.size() ? (std::uint32_t{bytes[at]} << 8) | bytes[at + 1] : 0;
    }
    std::uint32_t u32(std::size_t at) const { return (u16(at) << 16) | u16(at + 2); }
    int s16(std::size_t at) const { return static_cast<std::int16_t>(u16(at)); }
};

}  // namespace

FontMetrics::FontMetrics(std::span<const std::uint8_t> font) : font_(font) {
    const Reader r{font};
    std::size_t head = 0, hhea = 0;
    const std::uint32_t tables = r.u16(4);
    for (std::uint32_t i = 0; i < tables; ++i) {
        const std::size_t record = 12 + 16 * i;
        const std::uint32_t offset = r.u32(record + 8);
        const std::string_view tag(reinterpret_cast<const char*>(font.data()) + record,
                                   record + 4 <= font.size() ? 4 : 0);
        if (tag == "head") head = offset;
        if (tag == "hhea") hhea = offset;
        if (tag == "hmtx") hmtx_ = offset;
        if (tag == "cmap") {
            // Prefer the full-Unicode map (3,10) to the basic-plane one (3,1 or 0,x).
            int best = 0;
            for (std::uint32_t k = 0, n = r.u16(offset + 2); k < n; ++k) {
                const std::size_t entry = offset + 4 + 8 * k;
                const std::uint32_t platform = r.u16(entry), encoding = r.u16(entry + 2);
                const std::size_t table = offset + r.u32(entry + 4);
                const int format = static_cast<int>(r.u16(table));
                const int rank = (platform == 3 && encoding == 10 && format == 12) ? 3
                                 : (platform == 3 && encoding == 1 && format == 4) ? 2
                                 : (platform == 0 && format == 4)                  ? 1
                                                                                   : 0;
                if (rank > best) best = rank, cmap_ = table, cmapFormat_ = format;
            }
        }
    }
    if (!head || !hhea || !hmtx_ || !cmap_) return;
    hmetrics_ = static_cast<int>(r.u16(hhea + 34));
    ascender_ = r.s16(hhea + 4);
    descender_ = -r.s16(hhea + 6);
    if (hmetrics_ > 0) unitsPerEm_ = static_cast<int>(r.u16(head + 18));
}

std::uint16_t FontMetrics::glyph(char32_t c) const {
    if (!valid()) return 0;
    const Reader r{font_};
    if (cmapFormat_ == 12) {
        for (std::uint32_t i = 0, n = r.u32(cmap_ + 12); i < n; ++i) {
            const std::size_t group = cmap_ + 16 + 12 * i;
            const std::uint32_t first = r.u32(group), last = r.u32(group + 4);
            if (c >= first && c <= last) return static_cast<std::uint16_t>(r.u32(group + 8) + (c - first));
        }
        return 0;
    }
    if (c > 0xFFFF) return 0;
    // Format 4: segments of [start, end] with a delta or an offset into the glyph array.
    const std::uint32_t segments = r.u16(cmap_ + 6) / 2;
    const std::size_t ends = cmap_ + 14, starts = ends + 2 * segments + 2;
    const std::size_t deltas = starts + 2 * segments, offsets = deltas + 2 * segments;
    for (std::uint32_t i = 0; i < segments; ++i) {
        if (c > r.u16(ends + 2 * i)) continue;
        const std::uint32_t start = r.u16(starts + 2 * i);
        if (c < start) return 0;
        const std::uint32_t delta = r.u16(deltas + 2 * i), offset = r.u16(offsets + 2 * i);
        if (offset == 0) return static_cast<std::uint16_t>(c + delta);
        const std::uint32_t g = r.u16(offsets + 2 * i + offset + 2 * (c - start));
        return g == 0 ? 0 : static_cast<std::uint16_t>(g + delta);
    }
    return 0;
}

int FontMetrics::advance(std::uint16_t g) const {
    if (!valid()) return 0;
    const int entry = g < hmetrics_ ? g : hmetrics_ - 1;
    return static_cast<int>(Reader{font_}.u16(hmtx_ + 4 * static_cast<std::size_t>(entry)));
}

}  // namespace kf::gui
