// The horizontal metrics of a TrueType font, read from its own tables: the character map,
// the advance widths and the ascent and descent, all in font units. Text is laid out from
// these unhinted design values, as FreeType (and so cairo) lays it out on Linux, so a string
// has the same width and its glyphs the same places on both platforms.
#pragma once

#include <cstdint>
#include <span>

namespace kf::gui {

class FontMetrics {
  public:
    // Reads `font` (which must outlive this); valid() tells whether it held the tables.
    explicit FontMetrics(std::span<const std::uint8_t> font);

    bool valid() const { return unitsPerEm_ > 0; }
    int unitsPerEm() const { return unitsPerEm_; }
    int ascender() const { return ascender_; }    // above the baseline, positive
    int descender() const { return descender_; }  // below the baseline, positive
    // The glyph that shows `c`; 0 (the font's "missing" glyph) when it has none.
    std::uint16_t glyph(char32_t c) const;
    // The advance width of glyph `g`.
    int advance(std::uint16_t g) const;

  private:
    std::span<const std::uint8_t> font_;
    int unitsPerEm_ = 0;
    int ascender_ = 0;
    int descender_ = 0;
    std::size_t hmtx_ = 0;
    int hmetrics_ = 0;      // entries with their own advance; later glyphs share the last one
    std::size_t cmap_ = 0;  // the Unicode subtable, format 4 or 12
    int cmapFormat_ = 0;
};

}  // namespace kf::gui
