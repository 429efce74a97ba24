// The sample view as a user meets it off-screen: loading by click and from the folder menu,
// markers set at any zoom and scroll, the wheel, the name readout.
#include "editor/sample_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "editor/controls.h"
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
            v[static_cast<std::size_t>(i)] = 0.5f * std::sin(0.1257f * (i + 0.5f));
        const std::string path = dir.file(file);
        TMAudioFile out;
        EXPECT_EQ(out.openWrite(path.c_str(), 44100), TMAudioFile::kOk);
        EXPECT_EQ(out.writeWav(v.data(), v.data(), frames), TMAudioFile::kOk);
        EXPECT_TRUE(out.close());
        return path;
    }
    gui::Point inWave() { return middleOf(view()->waveArea()); }

    TempDir dir;
};

TEST_F(SampleViewTest, AClickLoadsTheChosenFileWholeAndOnlyAChosenFileChangesTheMarkers) {
    EXPECT_EQ(name(), "no sample");
    c->settings().writeText("audiofilepath", dir.path().string());
    const std::string path = sine("Voice.wav", 3000);
    host.dialogs.pushAnswer(path);
    click(inWave());
    editor().idle();
    ASSERT_EQ(host.dialogs.requests().size(), 1u);
    const auto& asked = host.dialogs.requests().back();
    EXPECT_EQ(asked.title, "Choose a file to load");
    EXPECT_EQ(asked.start, dir.path().string());
    EXPECT_EQ(asked.types,
              (std::vector<platform::FileType>{
                  {"Audio file", "wav"}, {"Audio IFF file", "aif"}, {"Audio IFF file", "aiff"}}));
    EXPECT_EQ(c->sample().frames(), 3000);
    EXPECT_EQ(c->sample().endMarker(), 3000);
    EXPECT_EQ(name(), "Voice");

    // A cancelled dialog and a file that cannot be loaded leave the sample and its markers;
    // only the second says so.
    ASSERT_TRUE(c->sample().snapLoopPoint(false, 1000));
    const int32_t end = c->sample().endMarker();
    writeBytes(dir.file("broken.wav"), Bytes{'R', 'I', 'F', 'F', 0, 0});
    for (std::optional<std::string> answer :
         {std::optional<std::string>{}, std::optional(dir.file("broken.wav"))}) {
        host.dialogs.pushAnswer(answer);
        click(inWave());
        editor().idle();
        EXPECT_EQ(c->sample().endMarker(), end);
        EXPECT_EQ(c->sample().path(), path);
    }
    ASSERT_EQ(host.messages.messages().size(), 1u);
    EXPECT_NE(host.messages.messages()[0].find("broken"), std::string::npos);

    // A file chosen anew plays whole.
    host.dialogs.pushAnswer(sine("Other.wav", 500));
    click(inWave());
    editor().idle();
    EXPECT_EQ(c->sample().startMarker(), 0);
    EXPECT_EQ(c->sample().endMarker(), 500);
    EXPECT_EQ(name(), "Other");
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
    EXPECT_NEAR(v.frameAt(at.x), pointed, v.visibleFrames() / area.width() + 1);
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
