// What the editor shows and does, off-screen, on every platform: each page against its
// golden picture, and an event script played through the off-screen runner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>

#include "gui/draw_context.h"
#include "gui/gui_test_support.h"
#include "support/editor_fixture.h"
#include "support/editor_script_runner.h"
#include "support/pixels.h"

namespace kf::test {
namespace {

using gui::test::readPng;

// A page of the panel: the default preset (which plays the synthesizer into the synthesis
// input) with one choice changed.
struct GoldenPage {
    const char* name;
    int32_t tag;
    float value;
    editor::Overlay overlay = editor::Overlay::Off;
    friend void PrintTo(const GoldenPage& p, std::ostream* out) { *out << p.name; }
};

const GoldenPage kGoldenPages[] = {
    {"default", -1, 0.0f},
    {"reverb", tag::effects_choice, 0.2f},
    {"delay", tag::effects_choice, 0.4f},
    {"phaser", tag::effects_choice, 0.6f},
    {"lofi", tag::effects_choice, 0.8f},
    {"sampler", tag::carrier_mode, 0.75f},
    {"input2", tag::modulator_mode, 0.0f},
    {"overlay-basics", -1, 0.0f, editor::Overlay::Basics},
    {"overlay-tips", -1, 0.0f, editor::Overlay::Tips},
};

class GoldenPages : public EditorFixture, public ::testing::WithParamInterface<GoldenPage> {
  protected:
    // Where the page shows nothing but bitmaps (knob frames, buttons, lamps): these land
    // pixel for pixel on every platform, whatever draws the text around them.
    std::vector<gui::Rect> bitmapAreas() {
        std::vector<gui::Rect> areas;
        for (const editor::LayoutRow& row : editor::kLayout) {
            using K = editor::ControlKind;
            const bool bitmapOnly = row.kind == K::Knob || row.kind == K::Button || row.kind == K::Led ||
                                    row.kind == K::Page || row.kind == K::Link || row.kind == K::KeyName;
            const gui::View* view = editor().viewOf(row.tag);
            if (bitmapOnly && view && view->isVisible()) areas.push_back(row.rect);
        }
        return areas;
    }
};

// Guards the look of each page against unintended change: the bitmap areas exactly, and the
// whole page within what the build's drawing allows against the committed pictures (drawn on
// Linux). There fonts and anti-aliasing may move a level here and there: at most 0.1 % of the
// pixels may differ by more than 2 levels in a channel. Another platform's drawing library
// anti-aliases text and shapes its own way: at most 3 % may differ by more than 10 %.
// `scripts/update-editor-golden` rewrites the pictures after an intended change; a failure
// leaves the page and a difference picture in the working folder to look at.
TEST_P(GoldenPages, MatchTheirGoldenPictures) {
    const GoldenPage& p = GetParam();
    if (p.tag >= 0) c->setParameter(p.tag, p.value);
    c->editorLink().setOverlay(p.overlay);
    editor().idle();
    const std::string name = std::string(p.name) + "-page";
    const std::string golden = KF_SOURCE_DIR "/tests/editor/golden/" + name + ".png";
    if (std::getenv("KF_UPDATE_GOLDEN")) {  // NOLINT(concurrency-mt-unsafe): nothing sets it meanwhile
        ASSERT_TRUE(window().writePng(golden));
        GTEST_SKIP() << "rewrote " << golden;
    }
    const std::vector<uint32_t> expected = readPng(golden), actual = window().surface().pixels();
    ASSERT_EQ(expected.size(), actual.size()) << golden;
    auto at = [](int x, int y) { return std::size_t(y) * editor::kWidth + std::size_t(x); };

    const auto areas = bitmapAreas();
    EXPECT_GE(areas.size(), 5u) << "every page shows buttons";
    for (const gui::Rect& r : areas) {
        std::size_t wrong = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) wrong += expected[at(x, y)] != actual[at(x, y)];
        EXPECT_EQ(wrong, 0u) << name << ": bitmap at " << r.left << "," << r.top;
    }

    gui::Surface diff(editor::kWidth, editor::kHeight);
    std::size_t differing = 0;
    {
        gui::DrawContext marks(diff, nullptr);
        for (std::size_t i = 0; i < actual.size(); ++i) {
            if (!pixelsDiffer(expected[i], actual[i], KF_PAGE_TOLERANCE_LEVELS)) continue;
            ++differing;
            const int x = int(i % editor::kWidth), y = int(i / editor::kWidth);
            marks.fillRect({x, y, x + 1, y + 1}, gui::Color::rgb(0xFF0000));
        }
    }
    std::cout << name << ": " << 100.0 * double(differing) / double(actual.size())
              << " % of the pixels differ by more than " << KF_PAGE_TOLERANCE_LEVELS << " levels\n";
    EXPECT_LE(differing * 1000, actual.size() * KF_PAGE_TOLERANCE_PERMILLE) << name;
    if (differing > 0) {
        window().writePng(name + ".actual.png");
        diff.writePng(name + ".diff.png");
    }
}

INSTANTIATE_TEST_SUITE_P(Editor, GoldenPages, ::testing::ValuesIn(kGoldenPages), [](const auto& page) {
    std::string name = page.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

using EditorScript = EditorFixture;

TEST_F(EditorScript, PlaysThroughTheOffscreenRunnerAndReportsFailedExpectations) {
    TempDir out;
    auto has = [](const std::vector<int32_t>& tags, int i) {
        return std::count(tags.begin(), tags.end(), i) > 0;
    };
    auto automated = [&](int i) {
        return std::any_of(host.automated.begin(), host.automated.end(),
                           [i](const auto& a) { return a.first == i; });
    };
    ScriptRun run{*c, out.path(), [&] { return int(host.beginEdits.size()) - int(host.endEdits.size()); },
                  [&](int i) { return has(host.beginEdits, i) && automated(i) && has(host.endEdits, i); }};

    std::ifstream in(KF_SOURCE_DIR "/tests/editor/scripts/default-page.txt");
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    std::string error;
    const auto script = host::parseEditorScript(text, error);
    ASSERT_TRUE(script) << error;
    const auto failures = playEditorScript(*script, run);
    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_FALSE(editor().isOpen());
    // The snapshot is what the editor draws for the state the script left.
    open();
    EXPECT_TRUE(readPng(out.file("default-page.png")) == window().surface().pixels());
    editor().close();

    const auto wrong = host::parseEditorScript("open\nexpect param 9 +0.5\nclose\nsnapshot x.png\n", error);
    ASSERT_TRUE(wrong) << error;
    const auto reported = playEditorScript(*wrong, run);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_TRUE(reported[0].starts_with("line 2: parameter 9")) << reported[0];
    EXPECT_TRUE(reported[1].starts_with("line 4: no off-screen editor")) << reported[1];
}

}  // namespace
}  // namespace kf::test
