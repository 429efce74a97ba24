// The editor's cost on the host's user-interface thread, drawn off-screen (the same drawing
// code as the X11 window, without the display): opening it with its first paint, an idle in
// which nothing changed (what a host pays 30-50 times a second), and a full repaint (a
// preset load or a page switch); and the sample view's overview of a long sample, rebuilt
// whenever its zoom or scroll moves.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "editor/band_display.h"
#include "editor/layout.h"
#include "editor/uniclient_editor.h"
#include "gui/platform_window.h"
#include "plugin/uniclient.h"

namespace {

using kf::editor::TMUniClientEditor;

TMUniClientEditor& editorOf(kf::TMUniClient& c) {
    return c.editor();
}

bool openOffscreen(TMUniClientEditor& e) {
    return e.openOn(std::make_unique<kf::gui::OffscreenWindow>(kf::editor::kWidth, kf::editor::kHeight));
}

void BM_EditorOpenWithFirstPaint(benchmark::State& state) {
    kf::TMUniClient c(nullptr);
    auto& e = editorOf(c);
    for (auto _ : state) {
        if (!openOffscreen(e)) state.SkipWithError("the editor did not open");
        e.idle();
        e.close();
    }
}
BENCHMARK(BM_EditorOpenWithFirstPaint)->Unit(benchmark::kMillisecond);

void BM_EditorIdle(benchmark::State& state) {
    kf::TMUniClient c(nullptr);
    auto& e = editorOf(c);
    if (!openOffscreen(e)) state.SkipWithError("the editor did not open");
    e.idle();
    const bool repaint = state.range(0) != 0;
    for (auto _ : state) {
        if (repaint) e.frame()->invalidateAll();
        e.idle();
    }
    e.close();
}
// Argument: 0 nothing changed, 1 the whole page repainted.
BENCHMARK(BM_EditorIdle)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// An idle with the band display live: before each idle the instance's band-level tap does what
// the audio thread does at a control block and at the end of a processed call (about 0.1 us,
// timed too), with one band a full-scale peak in turn, so the bars move and the emblem's well is
// redrawn at every idle. Must stay within 20 us.
void BM_EditorIdleWithLiveBands(benchmark::State& state) {
    kf::TMUniClient c(nullptr);
    auto& e = editorOf(c);
    if (!openOffscreen(e)) state.SkipWithError("the editor did not open");
    kf::BandLevelTap& tap = c.engine().bandLevels();
    kf::vocoder::State levels{};
    int band = 0;
    for (auto _ : state) {
        levels.left.env[band] = 0.0f;
        band = (band + 1) % kf::vocoder::kBands;
        levels.left.env[band] = 1.0f;
        tap.follow(levels);
        tap.publish();
        e.idle();
    }
    if (!dynamic_cast<kf::editor::BandDisplay&>(*e.viewOf(107)).isLive())
        state.SkipWithError("the band display did not go live");
    e.close();
}
BENCHMARK(BM_EditorIdleWithLiveBands)->Unit(benchmark::kMicrosecond);

// Min/max per column of a ten-minute stereo sample at 44.1 kHz, for the view's 93 columns:
// fully zoomed out (every frame read) and zoomed to a thousandth.
void BM_SampleOverview(benchmark::State& state) {
    kf::TMUniClient c(nullptr);
    const int32_t frames = 600 * 44100;
    std::vector<int16_t> left(static_cast<std::size_t>(frames)), right(left.size());
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<int16_t>((i * 7919u) % 65536u - 32768u);
        right[i] = static_cast<int16_t>(-left[i] / 2);
    }
    if (!c.sample().assignSample(left.data(), right.data(), frames, 44100.0f))
        state.SkipWithError("the sample was refused");
    const int32_t shown = frames / static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        for (int channel = 0; channel < 2; ++channel)
            benchmark::DoNotOptimize(c.sample().overview(channel, 0, shown, 93));
    }
}
// Argument: the zoom, as frames shown = frames / n.
BENCHMARK(BM_SampleOverview)->Arg(1)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
