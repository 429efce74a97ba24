// The emblem's well as a live display of the vocoder's analysis bands: a bar per band whose
// height is the band's level in decibels, drawn from the emblem's own artwork. It takes the
// levels the audio thread published at each idle, and leaves the emblem's picture showing
// while no audio runs: when nothing has been published for a while (the host stopped
// processing or suspended the instance) or every band has stayed silent.
#pragma once

#include <array>
#include <cstdint>

#include "editor/ports.h"
#include "gui/view.h"

namespace kf::editor {

class BandDisplay : public gui::View {
  public:
    static constexpr int kBands = 32;
    // A bar's range: empty at kFloorDb and below, full at kTopDb and above (a loud band of the
    // classic bank peaks near the top; the articulate bank's levels sit lower).
    static constexpr float kFloorDb = -48.0f, kTopDb = 12.0f;
    // Idles without a new publication, and idles with every band below the floor, after which
    // the picture shows again. Hosts idle 30 to 60 times a second and may process in blocks of
    // a tenth of a second, so neither turns the display off between two blocks or two words.
    static constexpr int kStaleIdles = 30, kQuietIdles = 60;

    // `bitmap` holds the well unlit and lit (artwork::bands); `rect` is the well.
    BandDisplay(const gui::Rect& rect, int bitmap, PagePort& page);

    // Each idle: takes the latest levels and redraws the well when what it shows changed.
    void poll();
    bool isLive() const { return live_; }
    // The height in pixels of band k's bar (0..the bars' full height) as last polled.
    int barHeight(int band) const { return heights_[static_cast<std::size_t>(band)]; }
    // The bar height of a linear level.
    static int heightOf(float level);

    void draw(gui::DrawContext& context, const gui::Rect& dirty) override;

  private:
    PagePort& page_;
    int bitmap_;
    BandLevels levels_{};
    std::array<int, kBands> heights_{};
    std::array<int, kBands> barLeft_{}, barRight_{};  // each bar's whole pixel columns
    int staleIdles_ = kStaleIdles, quietIdles_ = kQuietIdles;
    bool live_ = false;
};

}  // namespace kf::editor
