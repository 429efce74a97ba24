#include "editor/band_display.h"

#include <algorithm>
#include <cmath>

#include "artwork/artwork.h"
#include "common/numeric.h"
#include "gui/draw_context.h"

namespace kf::editor {

namespace ab = artwork::bands;

BandDisplay::BandDisplay(const gui::Rect& rect, int bitmap, PagePort& page)
    : View(rect), page_(page), bitmap_(bitmap) {
    for (int k = 0; k < kBands; ++k) {
        const double left = ab::kFirstBarX + k * ab::kBarPitch;
        barLeft_[static_cast<std::size_t>(k)] = static_cast<int>(std::floor(left));
        barRight_[static_cast<std::size_t>(k)] = static_cast<int>(std::ceil(left + ab::kBarWidth));
    }
    // What was published before the page opened may be long out of date: only what comes
    // from now on shows.
    page_.takeBandLevels(levels_);
    levels_ = {};
}

int BandDisplay::heightOf(float level) {
    if (!(level > 0.0f)) return 0;
    const float share = (decibels(level) - kFloorDb) / (kTopDb - kFloorDb);
    if (!(share > 0.0f)) return 0;
    return std::min(static_cast<int>(std::lround(share * ab::kBarsHeight)), ab::kBarsHeight);
}

void BandDisplay::poll() {
    const bool fresh = page_.takeBandLevels(levels_);
    staleIdles_ = fresh ? 0 : std::min(staleIdles_ + 1, kStaleIdles);
    std::array<int, kBands> heights{};
    bool audible = false;
    for (std::size_t k = 0; k < heights.size(); ++k) {
        heights[k] = heightOf(levels_[k]);
        audible = audible || heights[k] > 0;
    }
    quietIdles_ = fresh && audible ? 0 : std::min(quietIdles_ + 1, kQuietIdles);
    const bool live = staleIdles_ < kStaleIdles && quietIdles_ < kQuietIdles;
    if (live != live_ || (live && heights != heights_)) setDirty();
    live_ = live;
    heights_ = heights;
}

void BandDisplay::draw(gui::DrawContext& context, const gui::Rect&) {
    if (!live_) return;  // the emblem's picture in the background shows
    const int frameHeight = artwork::frameHeight(bitmap_);
    const gui::Point origin{rect().left, rect().top - ab::kWellInFrame};
    const gui::Rect well[] = {rect()};
    context.drawBitmapFrameIn(bitmap_, 0, frameHeight, origin, well);
    std::array<gui::Rect, kBands> bars;
    std::size_t lit = 0;
    for (std::size_t k = 0; k < bars.size(); ++k)
        if (heights_[k] > 0)
            bars[lit++] = {barLeft_[k], ab::kBarsBottom - heights_[k], barRight_[k], ab::kBarsBottom};
    context.drawBitmapFrameIn(bitmap_, 1, frameHeight, origin, {bars.data(), lit});
}

}  // namespace kf::editor
