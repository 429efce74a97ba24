// The editor's cost on the host's user-interface thread, drawn off-screen (the same drawing
// code as the X11 window, without the display): opening it with its first paint, an idle in
// which nothing changed (what a host pays 30-50 times a second), and a full repaint (a
// preset load or a page switch).
#include <benchmark/benchmark.h>

#include <memory>

#include "editor/layout.h"
#include "editor/uniclient_editor.h"
#include "gui/platform_window.h"
#include "plugin/uniclient.h"

namespace {

using kf::editor::TMUniClientEditor;

TMUniClientEditor& editorOf(kf::TMUniClient& c) {
    return *dynamic_cast<TMUniClientEditor*>(c.getEditor());
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

}  // namespace
