// The editor's own controls, driven off-screen through the frame as a user would: the knob
// amounts, reset, the host's edit log, a menu choice, and the instance's values (host
// automation, out-of-range values) reaching what is drawn.
#include "editor/controls.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <set>
#include <string>
#include <thread>

#include "artwork/artwork.h"
#include "editor/band_display.h"
#include "gui/draw_context.h"
#include "support/editor_fixture.h"
#include "support/signals.h"

namespace kf::test {
namespace {

using editor::TMUniClientEditor;
using gui::Event;

// Counts the manual's openings instead of starting the desktop's viewer.
struct Instance : TMUniClient {
    using TMUniClient::TMUniClient;
    void openManual() override { ++manualOpenings; }
    int manualOpenings = 0;
};

class Controls : public EditorFixture {
  protected:
    void SetUp() override {
        c = makeDefaultInstance<Instance>(host);
        EditorFixture::SetUp();
    }
};

TEST_F(Controls, KnobsMoveByTheirDragAndWheelAmountsAndReportEachGestureToTheHost) {
    c->setParameter(tag::modulator_mode, 1.0f);  // the synth panel, for the waveform knob
    const struct {
        const char* what;
        int32_t tag;
        float start;
        int dy, wheel;
        unsigned modifiers;
        float change;
    } cases[] = {
        {"100 px up is the whole range", tag::focus, 0.0f, -100, 0, 0, 1.0f},
        {"down lowers", tag::focus, 0.5f, 30, 0, 0, -0.3f},
        {"clamped at the top", tag::focus, 0.9f, -50, 0, 0, 0.1f},
        {"Shift is fine", tag::consonants, 0.5f, -100, 0, gui::kShift, 0.05f},  // the articulate bank's
        {"waveform turns at a quarter", tag::waveform, 0.2f, -40, 0, 0, 0.1f},
        {"two wheel notches up", tag::mix, 0.5f, 0, 2, 0, 0.035f},
        {"one notch down", tag::mix, 0.5f, 0, -1, 0, -0.0175f},
    };
    for (const auto& k : cases) {
        c->setParameter(k.tag, k.start);
        editor().idle();
        host.beginEdits.clear();
        host.endEdits.clear();
        host.automated.clear();
        if (k.wheel != 0)
            wheel(centre(k.tag), k.wheel);
        else
            drag(k.tag, k.dy, k.modifiers);
        EXPECT_NEAR(value(k.tag), k.start + k.change, 1e-4f) << k.what;
        const int32_t index = hostIndexOfTag(k.tag);  // the host knows parameters by index
        EXPECT_EQ(host.beginEdits, std::vector<int32_t>{index}) << k.what;
        EXPECT_EQ(host.endEdits, std::vector<int32_t>{index}) << k.what;
        ASSERT_FALSE(host.automated.empty()) << k.what;
        EXPECT_EQ(host.automated.back().first, index) << k.what;
        EXPECT_NEAR(host.automated.back().second, k.start + k.change, 1e-4f) << k.what;
    }
}

TEST_F(Controls, ResetReturnsToTheDefaultPresetValueAndTheRightButtonChangesNothing) {
    const float initial = value(tag::focus);
    const gui::Point p = centre(tag::focus);
    c->setParameter(tag::focus, 0.9f);
    editor().idle();
    rightClick(p);
    EXPECT_FLOAT_EQ(value(tag::focus), 0.9f);
    editor().frame()->closeMenu();  // the learn menu it opened
    click(p, gui::kControl);
    EXPECT_FLOAT_EQ(value(tag::focus), initial) << "Control-click";

    c->setParameter(tag::focus, 0.9f);
    editor().idle();
    step = 100;
    click(p);
    click(p);
    EXPECT_FLOAT_EQ(value(tag::focus), initial) << "double click";
}

TEST_F(Controls, AnEditIsOpenDuringTheDragAndEndedByCloseWhenTheMouseNeverComesUp) {
    const gui::Point p = centre(tag::focus);
    send(Event::Kind::MouseDown, p);
    send(Event::Kind::MouseMove, {p.x, p.y - 10});
    EXPECT_EQ(host.beginEdits, std::vector<int32_t>{tag::focus});
    EXPECT_TRUE(host.endEdits.empty()) << "still dragging";
    EXPECT_FALSE(host.automated.empty());
    editor().close();
    EXPECT_EQ(host.endEdits, std::vector<int32_t>{tag::focus});
}

TEST_F(Controls, AMenuChoiceReachesItsParameterAndShowsItsPanel) {
    click(centre(tag::effects_choice));
    pick({2});
    EXPECT_EQ(c->parameters().at(tag::effects_choice).integer, 2);
    editor().idle();
    EXPECT_TRUE(editor().viewOf(tag::delaytime)->isVisible());
    EXPECT_FALSE(editor().viewOf(tag::reverb_room)->isVisible());

    // The bank menu, a host parameter: the host records the change, and the third knob
    // becomes the articulate bank's own.
    const bool articulate = c->parameters().at(tag::articulate).integer != 0;
    click(centre(tag::articulate));
    pick({articulate ? 0 : 1});
    editor().idle();
    EXPECT_EQ(c->parameters().at(tag::articulate).integer, articulate ? 0 : 1);
    EXPECT_EQ(host.automated.back().first, hostIndexOfTag(tag::articulate));
    EXPECT_EQ(editor().viewOf(tag::consonants)->isVisible(), !articulate);
    EXPECT_EQ(editor().viewOf(tag::response)->isVisible(), articulate);
}

// The emblem's well shows the analysis bands while audio runs, and the emblem's picture
// again once the host stops processing or the input falls silent.
TEST_F(Controls, TheBandDisplayFollowsTheAudioAndShowsThePictureWithoutIt) {
    using editor::BandDisplay;
    auto& bands = dynamic_cast<BandDisplay&>(*editor().viewOf(107));
    const gui::Rect well = bands.rect();
    auto wellPixels = [&] {
        std::vector<uint32_t> p;
        for (int y = well.top; y < well.bottom; ++y)
            for (int x = well.left; x < well.right; ++x) p.push_back(window().surface().pixel(x, y));
        return p;
    };
    const std::vector<uint32_t> picture = wellPixels();
    c->resume();
    // Each idle a tenth of a second of audio: the held levels fall well within the quiet idles.
    const std::vector<float> noise = test::noise(4410, 0.3f, 5), silence(4410);
    auto play = [&](const std::vector<float>& in, int idles) {
        for (int i = 0; i < idles; ++i) {
            render(*c, in, in, 441);
            editor().idle();
        }
    };
    auto idleWithoutAudio = [&](int idles) {
        for (int i = 0; i < idles; ++i) editor().idle();
    };

    play(noise, 3);
    ASSERT_TRUE(bands.isLive());
    int lit = 0;
    for (int k = 0; k < BandDisplay::kBands; ++k) lit += bands.barHeight(k) > 0;
    EXPECT_EQ(lit, BandDisplay::kBands) << "noise sounds in every band";
    EXPECT_NE(wellPixels(), picture);

    idleWithoutAudio(BandDisplay::kStaleIdles - 1);
    EXPECT_TRUE(bands.isLive()) << "a host's long blocks keep the display";
    idleWithoutAudio(1);
    EXPECT_FALSE(bands.isLive()) << "no audio: the picture";
    EXPECT_EQ(wellPixels(), picture);

    play(noise, 1);
    EXPECT_TRUE(bands.isLive());
    play(silence, 10);  // the bars fall from the top to nothing in a second
    EXPECT_TRUE(bands.isLive()) << "a pause between words keeps the display";
    play(silence, BandDisplay::kQuietIdles);
    EXPECT_FALSE(bands.isLive()) << "silence: the picture";
    EXPECT_EQ(wellPixels(), picture);
}

// Host values, in range or not, draw the strip frame they stand for (and never one past it).
TEST_F(Controls, HostValuesDrawTheirStripFrameClampedToTheStrip) {
    const gui::Rect r = editor().viewOf(tag::focus)->rect();
    for (const auto& [v, frame] : {std::pair{0.75f, 95}, {1.5f, 127}, {-0.2f, 0}, {NAN, 0}}) {
        c->setParameter(tag::focus, v);
        editor().idle();
        gui::Surface expected(editor::kWidth, editor::kHeight);
        {
            gui::DrawContext context(expected, &TMUniClientEditor::sharedBitmaps());
            context.drawBitmap(editor::kBackgroundBitmap, {0, 0});
            context.drawBitmapFrame(artwork::unipolar_knob, frame, 38, r);
        }
        int differing = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                differing += window().surface().pixel(x, y) != expected.pixel(x, y);
        EXPECT_EQ(differing, 0) << "value " << v;
    }
    // A bound knob shows its working value's step: octave 0 is the middle of five frames.
    c->setParameter(tag::octave, 0.55f);
    editor().idle();
    EXPECT_EQ(dynamic_cast<editor::Knob*>(editor().viewOf(tag::octave))->frameIndex(), 2);
}

// The info button opens the overlay on the basics, the sub-page buttons choose like radio
// buttons, routing changes made meanwhile neither close the overlay nor come back stale
// when it closes, and a reopened window shows the page it was closed on.
TEST_F(Controls, OverlayButtonsTurnThePagesAndTheOverlaySurvivesReopening) {
    auto pressed = [&] {
        std::array<int, 3> states{};
        int i = 0;
        for (int32_t t : {tag::settings_c, tag::basics_c, tag::tnt_c})
            states[i++] = int(dynamic_cast<gui::Control*>(editor().viewOf(t))->value());
        return states;
    };
    auto press = [&](int32_t t) { click(centre(t)); };  // shown at once, not at the next idle
    auto shown = [&](int32_t t) { return editor().viewOf(t)->isVisible(); };
    press(tag::settings_c);
    EXPECT_EQ(pressed(), (std::array{1, 1, 0}));
    EXPECT_TRUE(shown(118) && shown(111) && !shown(tag::focus));
    press(tag::basics_c);
    EXPECT_EQ(pressed(), (std::array{1, 1, 0})) << "the sub-page shown stays on";
    press(tag::tnt_c);
    EXPECT_EQ(pressed(), (std::array{1, 0, 1}));
    EXPECT_TRUE(shown(121) && !shown(118));

    c->setParameter(tag::carrier_mode, 1.0f);  // the sampler
    c->setParameter(tag::watisndit, 1.0f);
    editor().idle();
    EXPECT_TRUE(shown(121) && !shown(77));
    editor().close();
    open();
    EXPECT_TRUE(shown(121));
    EXPECT_EQ(pressed(), (std::array{1, 0, 1}));

    press(124);
    EXPECT_EQ(static_cast<Instance&>(*c).manualOpenings, 1);
    press(tag::settings_c);
    EXPECT_EQ(pressed(), (std::array{0, 0, 0}));
    EXPECT_TRUE(shown(77) && !shown(86) && !shown(111)) << "the panels of the routing chosen meanwhile";
    EXPECT_TRUE(host.beginEdits.empty()) << "page buttons are no host parameters";
}

// Every reachable page (effect × carrier × modulator × overlay off / basics / tips): the
// pictures of exactly its panels, every visible control inside the window, and no two
// visible controls (pictures aside, which lie under them) sharing a pixel.
TEST_F(Controls, EveryPageShowsItsPanelsWithoutOverlaps) {
    using editor::Overlay;
    const gui::Rect window{0, 0, editor::kWidth, editor::kHeight};
    constexpr int32_t kEffectPicture[] = {72, 60, 64, 56, 68};
    for (Overlay overlay : {Overlay::Off, Overlay::Basics, Overlay::Tips})
        for (int e = 0; e < 10; ++e)  // the five effects with each bank
            for (int carrier = 0; carrier < 4; ++carrier)
                for (int m = 0; m < 3; ++m) {
                    const bool articulate = e >= 5;
                    c->setParameter(tag::articulate, articulate ? 1.0f : 0.0f);
                    c->setParameter(tag::effects_choice, static_cast<float>(e % 5) * 0.2f);
                    c->setParameter(tag::carrier_mode, static_cast<float>(carrier) * 0.25f);
                    c->setParameter(tag::modulator_mode, static_cast<float>(m) * 0.33333334f);
                    c->editorLink().setOverlay(overlay);
                    editor().idle();
                    const std::string state = "state " + std::to_string(int(overlay)) + std::to_string(e) +
                                              std::to_string(carrier) + std::to_string(m);
                    std::set<int32_t> pictures;
                    if (overlay == Overlay::Off)
                        pictures = {kEffectPicture[e % 5], carrier <= 2 ? 86 : 77, m <= 1 ? 103 : -1,
                                    articulate ? 108 : -1};  // the consonants caption
                    else
                        pictures = {111, overlay == Overlay::Basics ? 118 : 121};
                    std::vector<const editor::LayoutRow*> shown;
                    for (const editor::LayoutRow& row : editor::kLayout) {
                        const bool visible = editor().viewOf(row.tag)->isVisible();
                        if (row.kind == editor::ControlKind::Image)
                            EXPECT_EQ(visible, pictures.contains(row.tag))
                                << "picture " << row.tag << ", " << state;
                        else if (visible)
                            shown.push_back(&row);
                    }
                    EXPECT_EQ(editor().viewOf(tag::focus)->isVisible(), overlay == Overlay::Off)
                        << "main page, " << state;
                    EXPECT_EQ(editor().viewOf(tag::tnt_c)->isVisible(), overlay != Overlay::Off) << state;
                    for (std::size_t i = 0; i < shown.size(); ++i) {
                        EXPECT_TRUE(window.contains(shown[i]->rect)) << shown[i]->tag << ", " << state;
                        for (std::size_t j = i + 1; j < shown.size(); ++j)
                            EXPECT_FALSE(shown[i]->rect.intersects(shown[j]->rect))
                                << shown[i]->tag << " and " << shown[j]->tag << ", " << state;
                    }
                }
}

// The knob's right-button menu: "midi Learn" arms the knob (the LED shows it) and, chosen
// again, disarms it; "clear" takes the knob off its controllers, unless the audio thread stays
// busy, when nothing changes and the user is told.
TEST_F(Controls, TheKnobMenuArmsDisarmsAndClearsLearning) {
    const gui::Point p = centre(tag::focus);
    const float before = value(tag::focus);
    auto choose = [&](int item) {
        rightClick(p);
        ASSERT_TRUE(editor().frame()->isMenuOpen());
        EXPECT_EQ(editor().frame()->menu()->panelRects().front().topLeft(), p) << "opens at the pointer";
        pick({item});
        editor().idle();
    };
    auto led = [&] { return dynamic_cast<editor::Led*>(editor().viewOf(82))->frameIndex(); };

    choose(0);
    EXPECT_EQ(c->midi().learnTarget(), tag::focus);
    EXPECT_EQ(led(), 1);
    choose(0);
    EXPECT_EQ(c->midi().learnTarget(), MidiIntake::kNoLearn) << "a second choice disarms";
    EXPECT_EQ(led(), 0);
    EXPECT_FLOAT_EQ(value(tag::focus), before);

    ASSERT_TRUE(c->assignController(tag::focus, 20, 0));
    c->engine().processingFlag().store(1);  // an audio call that never ends
    choose(1);
    c->engine().processingFlag().store(0);
    EXPECT_EQ(c->midi().map(20).size(), 1u) << "nothing is removed while the audio thread is busy";
    EXPECT_EQ(host.messages.messages().size(), 1u);
    choose(1);
    EXPECT_TRUE(c->midi().map(20).empty());
    EXPECT_EQ(host.messages.messages().size(), 1u);
}

// A mode menu's learn section reaches the maps while the audio thread processes, and the
// controller then drives the menu's parameter; its "clear" takes the controller off again.
TEST_F(Controls, AMenuLearnSectionAssignsAControllerWhileAudioRuns) {
    c->resume();
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::array<std::array<float, 64>, 4> buffers{};
        float* in[2] = {buffers[0].data(), buffers[1].data()};
        float* out[2] = {buffers[2].data(), buffers[3].data()};
        while (!stop.load()) c->processReplacing(in, out, 64);
    });
    auto choose = [&](std::initializer_list<int> path) {
        click(centre(tag::effects_choice));
        pick(path);
    };
    choose({6, 4, 10});  // after five effects and a separator: "MIDI learn", CC 64-79, 74
    const std::vector<LearnPair> assigned = c->midi().map(74);
    choose({6, 9});  // the section's "clear", after eight groups and a separator
    stop.store(true);
    audio.join();

    ASSERT_EQ(assigned.size(), 1u);
    EXPECT_EQ(assigned[0].tag, tag::effects_choice);
    EXPECT_TRUE(c->midi().map(74).empty());
    EXPECT_TRUE(host.messages.messages().empty());

    ASSERT_TRUE(c->assignController(tag::effects_choice, 74, 0));
    sendMidi(*c, {{0xB0, 74, 127}});
    render(*c, std::vector<float>(64), std::vector<float>(64), 64);
    EXPECT_EQ(c->parameters().at(tag::effects_choice).integer, 4);
}

// Each readout in its own unit, from what the value does; a wrong law or scale changes these.
TEST_F(Controls, ReadoutsShowTheirValuesInAMusiciansUnits) {
    const struct {
        int32_t parameter;
        float v;
        const char* text;
    } cases[] = {
        {tag::focus, 1.0f, "100%"},
        {tag::focus, 0.0f, "5%"},
        {tag::focus, 1.5f, "100%"},  // a host's value out of range reads as the engine takes it
        {tag::shift, 1.0f, "+877 Hz"},
        {tag::shift, 0.5f, "0 Hz"},
        {tag::response, 0.5f, "55"},
        {tag::master_level, 0.25f, "0.0 db"},
        {tag::in1_gate, 0.5f, "-24.1 db"},
        {tag::in1_gain, 0.125f, "0.0 db"},
        {tag::in2_comp_ratio, 0.5f, "6.0 db"},
        {tag::waveform, 0.5f, "2.00"},
        {tag::lofi_bitrate, 0.5f, "16"},
        {tag::eq_low, 0.75f, "6.0 db"},
        {tag::compspeed, 1.0f, "30 ms"},
        {tag::in1_comp_speed, 0.5f, "100 ms"},
        {tag::sampler_pitch, 0.75f, "+12.0 st"},
        {tag::cutoff, 1.0f, "21.2 kHz"},
        {tag::pulswidth, 0.0f, "-100%"},
        {tag::resonance, 1.0f, "90%"},
        {tag::reverb_drywet, 0.5f, "50%"},
        {tag::delaytime, 0.5f, "2.0 beats"},
        {tag::lofi_samplerate, 0.5f, "4.41 kHz"},
        {tag::lofi_samplerate, 0.0f, "44.1 kHz"},
        {tag::phaser_rate, 0.6f, "1/4"},
        {tag::phaser_rate, 0.4f, "3/4 bar"},
        {tag::phaser_rate, 11.0f / 15.0f, "1/8"},
    };
    auto text = [&](int32_t parameter) { return std::string(editor().readoutOf(parameter)->text()); };
    for (const auto& k : cases) {
        c->setParameter(k.parameter, k.v);
        editor().idle();
        EXPECT_EQ(text(k.parameter), k.text) << "parameter " << k.parameter << " at " << k.v;
    }
    c->setSampleRate(48000.0f);
    editor().idle();
    EXPECT_EQ(text(tag::cutoff), "23.1 kHz") << "the cutoff follows the sample rate";
}

}  // namespace
}  // namespace kf::test

namespace kf::test {
namespace {

// The lamps light in decibels: the lowest at about -48 dBFS, one more every 8 dB, the last
// at full scale, so a voice at ordinary levels lights the middle ones.
class LevelLamps : public EditorFixture {
  protected:
    void SetUp() override {
        c = makeNeutralInstance(host);
        // Input A analysed, and the output all dry: the analysed input again.
        setAll(*c, {Value(tag::carrier_mode, 0.0f), Value(tag::in_a, 0.0f), Value(tag::mix, 0.0f)});
        EditorFixture::SetUp();
    }
    // A 441 Hz sine of this peak on input A for half a second; then the lamps of the analysed
    // input and of the left output.
    std::pair<int, int> lampsFor(float peak) {
        std::vector<float> a(22050), b(a.size());
        for (std::size_t i = 0; i < a.size(); ++i) a[i] = peak * std::sin(0.0628318f * static_cast<float>(i));
        render(*c, a, b, 512);
        editor().idle();
        const auto lamp = [&](int32_t t) {
            return dynamic_cast<editor::Led*>(editor().viewOf(t))->frameIndex();
        };
        return {lamp(90), lamp(89)};
    }
};

TEST_F(LevelLamps, LightInDecibelsFromMinus48ToFullScale) {
    const struct {
        float db;
        int lamp;
    } cases[] = {{-54.0f, 0}, {-47.0f, 1}, {-20.0f, 4}, {-6.0f, 6}, {-0.1f, 6}};
    for (const auto& k : cases) {
        const auto [analysed, out] = lampsFor(std::pow(10.0f, k.db / 20.0f));
        EXPECT_EQ(analysed, k.lamp) << k.db << " dBFS";
        EXPECT_EQ(out, k.lamp) << k.db << " dBFS";
    }
}

}  // namespace
}  // namespace kf::test
