// The sample view as a user meets it off-screen: loading by click and from the folder menu,
// markers set at any zoom and scroll, the wheel, the name readout.
#include "editor/sample_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "artwork/artwork.h"
#include "editor/controls.h"
#include "gui/draw_context.h"
#include "state/audio_file.h"
#include "support/editor_fixture.h"

namespace kf::test {
namespace {

using editor::SampleView;

class SampleViewTest : public EditorFixture {
  protected:
    void SetUp() override {
        c = makeInstance(host);
        c->setParameter(tag::carrier_mode, 1.0f);  // the sampler panel
        EditorFixture::SetUp();
        ASSERT_NE(view(), nullptr);
    }
    SampleView* view() { return dynamic_cast<SampleView*>(editor().viewOf(tag::sampler)); }
    std::string name() { return dynamic_cast<editor::Readout*>(editor().viewOf(81))->text(); }
    // A sine of 50 samples a period, the same on both channels.
    std::string sine(const std::string& file, int frames) {
        std::vector<float> v(static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i)
            v[static_cast<std::size_t>(i)] = 0.5f * std::sin(0.1257f * (static_cast<float>(i) + 0.5f));
        std::string path = dir.file(file);
        TMAudioFile out;
        EXPECT_EQ(out.openWrite(path.c_str(), 44100), TMAudioFile::kOk);
        EXPECT_EQ(out.writeWav(v.data(), v.data(), frames), TMAudioFile::kOk);
        EXPECT_TRUE(out.close());
        return path;
    }
    gui::Point inWave() { return middleOf(view()->waveArea()); }

    TempDir dir;
};

TEST_F(SampleViewTest, AClickAnywhereOnTheEmptyViewLoadsTheChosenFileWholeAndTheNextDialogStartsThere) {
    EXPECT_EQ(name(), "no sample");
    TempDir before;
    c->settings().writeText("audiofilepath", before.path().string());
    const std::string path = sine("Voice.wav", 3000);
    // Its right and bottom edges too, where the scroll and zoom bars of a sample lie.
    const gui::Rect r = view()->rect();
    for (const gui::Point p : {gui::Point{r.right - 2, r.top + 5}, gui::Point{r.left + 5, r.bottom - 2}}) {
        host.dialogs.pushAnswer(std::nullopt);
        click(p);
        editor().idle();
    }
    ASSERT_EQ(host.dialogs.requests().size(), 2u) << "the edges of an empty view load too";
    host.dialogs.pushAnswer(path);
    click(inWave());
    editor().idle();
    const auto& asked = host.dialogs.requests().back();
    EXPECT_EQ(asked.title, "Choose a file to load");
    EXPECT_EQ(asked.start, before.path().string());
    EXPECT_EQ(asked.types, (std::vector<platform::FileType>{{"Audio file", {"wav", "aif", "aiff"}}}));
    EXPECT_EQ(c->sample().frames(), 3000);
    EXPECT_EQ(c->sample().endMarker(), 3000);
    EXPECT_EQ(name(), "Voice");

    // A cancelled dialog and a file that cannot be loaded leave the sample and its markers;
    // only the second says so.
    ASSERT_TRUE(c->sample().snapLoopPoint(false, 1000));
    const int32_t end = c->sample().endMarker();
    writeBytes(dir.file("broken.wav"), Bytes{'R', 'I', 'F', 'F', 0, 0});
    for (const std::optional<std::string>& answer :
         {std::optional<std::string>{}, std::optional(dir.file("broken.wav"))}) {
        host.dialogs.pushAnswer(answer);
        click(inWave());
        editor().idle();
        EXPECT_EQ(c->sample().endMarker(), end);
        EXPECT_EQ(c->sample().path(), path);
    }
    ASSERT_EQ(host.messages.messages().size(), 1u);
    EXPECT_NE(host.messages.messages()[0].find("broken"), std::string::npos);

    // A file chosen anew plays whole, and was looked for where the last one came from.
    host.dialogs.pushAnswer(sine("Other.wav", 500));
    click(inWave());
    editor().idle();
    EXPECT_EQ(host.dialogs.requests().back().start, dir.path().string() + "/");
    EXPECT_EQ(c->sample().startMarker(), 0);
    EXPECT_EQ(c->sample().endMarker(), 500);
    EXPECT_EQ(name(), "Other");
}

// A name too long for its plate ends in an ellipsis that keeps clear of the drop-down arrow:
// the plate's last 13 columns show the plate alone.
TEST_F(SampleViewTest, ALongNameEndsClearOfThePlatesArrow) {
    ASSERT_TRUE(c->sample().loadFile(sine("A sample with a name far too long for its plate.wav", 100)));
    editor().idle();
    const gui::Rect plate = editor().viewOf(81)->rect();
    gui::Surface bare(editor::kWidth, editor::kHeight);
    gui::DrawContext(bare, &editor::TMUniClientEditor::sharedBitmaps())
        .drawBitmap(artwork::drop_down_plate, plate.topLeft());
    int text = 0, overArrow = 0;
    for (int y = plate.top; y < plate.bottom; ++y)
        for (int x = plate.left; x < plate.right; ++x)
            (x < plate.right - 13 ? text : overArrow) += window().surface().pixel(x, y) != bare.pixel(x, y);
    EXPECT_GT(text, 50);
    EXPECT_EQ(overArrow, 0);
}

TEST_F(SampleViewTest, MarkerClicksLandOnCrossingsInsideTheSampleAtAnyZoomAndScroll) {
    constexpr int kFrames = 20000;
    ASSERT_TRUE(c->sample().loadFile(sine("sine.wav", kFrames)));
    editor().idle();
    SampleView& v = *view();
    const gui::Rect area = v.waveArea();

    // Fully zoomed out the left edge is frame 0; zoomed in and scrolled to the end it is the
    // first frame shown, and the last column the sample's last frame.
    EXPECT_EQ(v.frameAt(area.left), 0);
    v.setZoom(0.5f);
    v.setScroll(1.0f);
    EXPECT_EQ(v.frameAt(area.left), kFrames / 2);
    EXPECT_GE(v.frameAt(area.right - 1), kFrames - kFrames / 2 / area.width() - 1);

    std::mt19937 random(7);
    std::uniform_real_distribution<float> fraction(0.0f, 1.0f);
    std::uniform_int_distribution<int> column(area.left, area.right - 1);
    const int16_t* data = c->sample().left();
    for (int i = 0; i < 200; ++i) {
        v.setZoom(fraction(random));
        v.setScroll(fraction(random));
        const int x = column(random);
        const int32_t under = v.frameAt(x);
        ASSERT_TRUE(under >= v.firstFrame() && under < v.firstFrame() + v.visibleFrames()) << i;
        const bool start = i % 2 == 0;
        click({x, area.top + 5}, start ? gui::kAlt : gui::kControl);
        const int32_t s = c->sample().startMarker(), e = c->sample().endMarker();
        ASSERT_TRUE(0 <= s && s < e && e <= kFrames) << i;
        const int32_t moved = start ? s : e;
        if (moved > 0 && moved >= under && moved < kFrames) {
            ASSERT_TRUE(data[moved - 1] < 0 && data[moved] > 0) << i;
        }
    }
    EXPECT_TRUE(host.dialogs.requests().empty()) << "marker clicks open no dialog";

    // The wheel zooms around the frame under the pointer; with Shift it scrolls.
    v.setZoom(0.0f);
    const gui::Point at{area.left + 70, area.top + 5};
    const int32_t pointed = v.frameAt(at.x);
    wheel(at, 5);
    EXPECT_GT(v.zoom(), 0.6f);
    const int32_t framesPerColumn = v.visibleFrames() / area.width();
    EXPECT_NEAR(v.frameAt(at.x), pointed, framesPerColumn + 1);
    const float scroll = v.scroll();
    wheel(at, -1, gui::kShift);
    EXPECT_GT(v.scroll(), scroll);
}

TEST_F(SampleViewTest, TheFolderMenuListsAudioFilesByTheirOwnNamesAndChoosesTheFolder) {
    TempDir folder;
    for (const char* file : {"Loud.WAV", "b.Aiff", "notes.txt"}) {
        std::filesystem::copy_file(sine("x.wav", 100), folder.file(file));
    }
    EXPECT_EQ(editor::sampleFilesIn(folder.path().string()),
              (std::vector<std::string>{"Loud.WAV", "b.Aiff"}));

    c->settings().writeText("Samplepath", folder.path().string());
    // A right-click in the view, or a click on the name plate's arrow, opens it.
    const auto choose = [&](int entry) {
        if (entry == 0)
            click(centre(81));
        else
            rightClick(inWave());
        pick({entry});
        editor().idle();
    };
    choose(2);
    EXPECT_EQ(c->sample().path(), folder.file("b.Aiff"));
    EXPECT_EQ(name(), "b");
    rightClick(inWave());
    const auto& entries = editor().frame()->menu()->root().items();
    EXPECT_TRUE(entries.at(2).checked && !entries.at(1).checked) << "the loaded file is ticked";
    editor().frame()->closeMenu();

    host.dialogs.pushAnswer(dir.path().string());
    choose(0);
    const auto& asked = host.dialogs.requests().back();
    EXPECT_EQ(asked.title, "Choose Sample Directory");
    EXPECT_EQ(asked.start, folder.path().string());
    std::string stored;
    c->settings().readText("Samplepath", stored);
    EXPECT_EQ(stored, dir.path().string());
}

}  // namespace
}  // namespace kf::test
