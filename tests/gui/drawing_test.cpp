// One scene of drawing calls, the same on every platform. The Linux build's drawing (cairo)
// made the committed reference picture; every build must land the editor's bitmaps on it
// pixel for pixel and come close to it elsewhere, where the libraries' anti-aliasing and
// glyph rendering differ. KF_UPDATE_GOLDEN=1 rewrites the picture after an intended change.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iostream>

#include "artwork/artwork.h"
#include "gui_test_support.h"
#include "support/pixels.h"

namespace kf::gui {
namespace {

constexpr int kWidth = 320, kHeight = 200;

// Where the scene blits bitmaps, clipped as drawn: these pixels must match exactly.
const Rect kBitmapAreas[] = {
    Rect::fromSize(4, 4, 40, 42),    // a whole bitmap
    Rect::fromSize(50, 4, 30, 10),   // frame 7 of a 13-frame strip
    Rect::fromSize(90, 4, 30, 36),   // a knob frame narrowed and shortened by its rect
    Rect::fromSize(130, 4, 29, 13),  // a frame past the end: the last one
    Rect{170, 4, 240, 12},           // a bitmap under a clip
    Rect{246, 4, 316, 46},           // a frame shown only inside some areas
};
const Rect kShapes{0, 48, kWidth, 98};
const Rect kText{0, 98, kWidth, kHeight};

void drawScene(DrawContext& c) {
    c.fillRect({0, 0, kWidth, kHeight}, Color::rgb(0x1d1e20));
    c.drawBitmap(1019, {4, 4});
    c.drawBitmapFrame(1023, 7, 10, kBitmapAreas[1]);
    c.drawBitmapFrame(1039, 64, 38, kBitmapAreas[2]);
    c.drawBitmapFrame(1036, 500, 13, Rect::fromSize(130, 4, 29, 40));
    c.pushClip(kBitmapAreas[4]);
    c.drawBitmap(1031, {160, 2});
    c.popClip();
    // One area inside the frame, one reaching past its right and bottom edges.
    const Rect pieces[] = {{250, 4, 262, 30}, {266, 10, 316, 60}};
    c.drawBitmapFrameIn(1039, 20, 38, {250, 4}, pieces);

    c.fillRect({4, 50, 60, 70}, Color::rgb(0xd8a24a));
    c.fillRect({30, 60, 90, 80}, Color::rgb(0x3366cc, 128));
    c.strokeRect({100, 50, 160, 90}, Color::rgb(0xe6e6e6), 2);
    c.line({104, 86}, {156, 54}, Color::rgb(0x66ff66), 1.5f);
    std::vector<PointF> wave;
    for (int i = 0; i <= 100; ++i) wave.push_back({170.0f + i, 73.0f + 20.0f * std::sin(i * 0.12f)});
    c.polyline(wave, Color::rgb(0x8fd0ff), 1.2f);
    const PointF arrow[] = {{280.5f, 55.0f}, {290.5f, 55.0f}, {285.5f, 62.0f}};
    c.fillPolygon(arrow, Color::rgb(0xe6e6e6));
    c.pushClip({275, 66, 315, 90});
    const PointF wide[] = {{270.0f, 95.0f}, {295.0f, 60.0f}, {318.0f, 95.0f}};
    c.fillPolygon(wide, Color::rgb(0xff6040));
    c.popClip();

    const Color text = Color::rgb(0xe6e6e6);
    c.drawText("Kestrafone Vocoder", {4, 100, 150, 116}, Align::Left, text);
    c.drawText("Carrier: Synth", {4, 118, 150, 134}, Align::Center, text);
    c.drawText(
        "\xE2\x88\x92"
        "12.5 dB",
        {4, 136, 150, 152}, Align::Right, Color::rgb(0xd8a24a));
    c.drawText("A rather long preset name that cannot fit", {160, 100, 260, 116}, Align::Left, text);
    c.drawText("Stimme-\xC3\xA4 \xC3\xA9t\xC3\xA9", {160, 118, 316, 134}, Align::Left, text);
    // Not UTF-8 (a file name in another encoding): shown with stand-ins, and what follows is
    // still drawn.
    c.drawText("Bad \xFF\xFE name", {160, 136, 316, 152}, Align::Left, text);
    c.setTextSize(10.0);
    c.drawText("Small text, sized down", {4, 156, 200, 170}, Align::Left, text);
}

TEST(Drawing, LandsBitmapsExactlyAndShapesAndTextCloseToTheReference) {
    BitmapCache bitmaps([](int id) { return artwork::png(id); }, artwork::kFirstId, artwork::kLastId);
    bitmaps.acquire();
    Surface scene(kWidth, kHeight);
    {
        DrawContext c(scene, &bitmaps);
        drawScene(c);
    }
    bitmaps.release();
    const std::string reference = KF_SOURCE_DIR "/tests/gui/golden/drawing.png";
    if (std::getenv("KF_UPDATE_GOLDEN")) {
        ASSERT_TRUE(scene.writePng(reference));
        GTEST_SKIP() << "rewrote " << reference;
    }
    int width = 0;
    const std::vector<std::uint32_t> expected = test::readPng(reference, &width), actual = scene.pixels();
    ASSERT_EQ(width, kWidth) << reference;
    ASSERT_EQ(expected.size(), actual.size()) << reference;

    // Pixels that differ by more than 10 % in some channel, per part of the scene.
    auto differing = [&](const Rect& area, int levels) {
        std::size_t n = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x) {
                const auto i = static_cast<std::size_t>(y * kWidth + x);
                n += kf::test::pixelsDiffer(expected[i], actual[i], levels);
            }
        return n;
    };
    for (const Rect& area : kBitmapAreas) EXPECT_EQ(differing(area, 0), 0u) << area.left << "," << area.top;
    const std::size_t shapes = differing(kShapes, 25), text = differing(kText, 25);
    std::cout << "differing by more than 10 %: shapes " << shapes << " of "
              << kShapes.width() * kShapes.height() << ", text " << text << " of "
              << kText.width() * kText.height() << " pixels\n";
    // Measured under wine: 3.4 % and 2.8 % (its GDI+ fills polygons without anti-aliasing
    // and renders hinted glyphs); cairo itself: none.
    EXPECT_LE(shapes, kShapes.width() * kShapes.height() / 20u) << "more than 5 %";
    EXPECT_LE(text, kText.width() * kText.height() / 25u) << "more than 4 %";
    if (HasFailure()) scene.writePng("drawing.actual.png");
}

// Text is laid out from the same unhinted advances everywhere, so it measures (and ellipsizes
// and aligns) the same on every platform: these are the font's advance widths in 12 and
// 10 px.
TEST(Drawing, TextMeasuresTheSameEverywhere) {
    Surface s(1, 1);
    DrawContext c(s, nullptr);
    const std::pair<const char*, float> widths[] = {
        {"Kestrafone Vocoder", 106.0664f},
        {"\xE2\x88\x92"
         "12.5 dB",
         48.3750f},
        {"Stimme-\xC3\xA4", 51.3398f},
        {"\xE2\x80\xA6", 12.0f},
    };
    for (const auto& [text, width] : widths) EXPECT_NEAR(c.textWidth(text), width, 0.001f) << text;
    c.setTextSize(10.0);
    EXPECT_NEAR(c.textWidth("Small text, sized down"), 99.4873f, 0.001f);
}

}  // namespace
}  // namespace kf::gui
