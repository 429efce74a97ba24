// The state chunk through getChunk / setChunk and preset files: its exact layout, round
// trips, every refusal, and that nothing damaged ever changes the state.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <random>

#include "fake_host.h"
#include "support/temp_files.h"

namespace kf::test {
namespace {

int32_t floatBits(float f) {
    return std::bit_cast<int32_t>(f);
}

// A state's first words up to its parameters: the chunk header (size patched by `sized`), the
// format family and the body version, with the product word from version 2 on.
Words header(int32_t body) {
    Words w = {0, 3, floatBits(120.0f), floatBits(44100.0f), 26101977, 5, 1, body};
    if (body >= 2) w.push_back(41);
    return w;
}
Words sized(Words w) {
    w[0] = static_cast<int32_t>(w.size());
    return w;
}

void writeWords(const std::string& path, const Words& w) {
    const auto* p = reinterpret_cast<const uint8_t*>(w.data());
    writeBytes(path, Bytes(p, p + w.size() * 4));
}

class StateChunk : public ::testing::Test {
  protected:
    void SetUp() override { c = makeInstance(host); }
    bool load(const Words& w) { return loadChunk(*c, w); }
    FakeHost host;
    std::unique_ptr<TMUniClient> c;
};

TEST_F(StateChunk, LayoutWithEmptyLearnMaps) {
    const Words w = chunkOf(*c);
    ASSERT_GE(w.size(), 9u);
    Words head = header(3);
    head[0] = static_cast<int32_t>(w.size());
    EXPECT_EQ(Words(w.begin(), w.begin() + 9), head);
    std::size_t i = 9;
    for (int id = 1; id <= kNumStoredParameters; ++id) {
        ASSERT_EQ(w[i], id);
        if (id == 33) {  // the sample: an empty 7-word record
            EXPECT_EQ(Words(w.begin() + i + 1, w.begin() + i + 5), (Words{7, int32_t(0xE6D0324Au), 1, 0}));
            i += 9;
        } else {
            ASSERT_EQ(w[i + 1], 1);
            i += 3;
        }
    }
    const Words tail(w.begin() + static_cast<std::ptrdiff_t>(i), w.end());
    const Words expected = {-1, -3, 1, 7, 0x61666564, 0x746c75, 16, 0, -4, 0, 0, 4, 0x74736f48};
    EXPECT_EQ(tail, expected);  // "default" padded to two words, then "Host" in one
}

TEST_F(StateChunk, RoundTripIsByteExactAndSoundsTheSame) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int32_t t = 0; t < kNumHostParameters; ++t) c->setParameter(t, u(rng));
    c->setParameter(tag::modulator_mode, 0.2f);  // keep the host inputs as the carrier
    c->midi().appendPair(7, tag::mix, 3);
    c->midi().appendPair(7, tag::focus, -2);
    c->midi().appendPair(74, tag::cutoff, 0);
    c->midi().appendPair(MidiIntake::kPressureMap, tag::noise, 9);
    const Words w = chunkOf(*c);
    FakeHost other;
    auto copy = makeInstance(other);
    ASSERT_TRUE(loadChunk(*copy, w));
    EXPECT_EQ(chunkOf(*copy), w);
    EXPECT_EQ(copy->midi().map(7).size(), 2u);
    EXPECT_EQ(copy->midi().map(7)[1].aux, -2);

    std::vector<float> a(4096), b(4096);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = std::sin(static_cast<float>(i) * 0.05f) * 0.3f;
        b[i] = std::sin(static_cast<float>(i) * 0.011f) * 0.3f;
    }
    EXPECT_EQ(render(*c, a, b, 4096), render(*copy, a, b, 4096));
}

TEST_F(StateChunk, LongProgramNamesSurvive) {
    const Words w = chunkOf(*c);
    // Replace the program name "default" (2 words) by a 301-byte name.
    const std::string name(301, 'x');
    const auto at = std::find(w.begin(), w.end(), -3) - w.begin();
    Words named(w.begin(), w.begin() + at + 2);
    named.push_back(static_cast<int32_t>(name.size()));
    named.resize(named.size() + 76, 0x78787878);
    named.back() = 'x';
    named.insert(named.end(), w.begin() + at + 5, w.end());
    ASSERT_TRUE(load(sized(named)));
    EXPECT_EQ(c->currentProgramName(), name);
    EXPECT_EQ(chunkOf(*c), sized(named));
}

TEST_F(StateChunk, RefusalsSayWhyAndChangeNothing) {
    c->setParameter(tag::focus, 0.3f);
    const Words before = chunkOf(*c);
    const struct {
        std::size_t word;
        int32_t value;
        const char* message;
    } cases[] = {
        {4, 12345, "\t This is no valid Kestrafone format!"},
        {6, 2, "wrong plugin version"},
        {7, 0, "This is not a Kestrafone file"},
        {8, 40, "This is not a Kestrafone file"},
    };
    for (const auto& k : cases) {
        Words w = before;
        w[11] = floatBits(0.9f);  // focus, the first record
        w[k.word] = k.value;
        host.messages.clear();
        EXPECT_FALSE(load(w));
        EXPECT_EQ(host.messages.messages(), std::vector<std::string>{k.message});
        EXPECT_EQ(chunkOf(*c), before);
    }
}

TEST_F(StateChunk, EveryTruncationAndCorruptCountIsRefusedWhole) {
    c->midi().appendPair(5, tag::mix, 0);
    c->setParameter(tag::focus, 0.3f);
    const Words before = chunkOf(*c);
    for (std::size_t cut = 1; cut < before.size(); ++cut)
        EXPECT_FALSE(load(Words(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(cut)))) << cut;
    // A record count that runs past the end, and a controller number out of range.
    Words w = before;
    w[10] = 1 << 30;
    EXPECT_FALSE(load(w));
    w = before;
    auto maps = std::find(w.begin() + 9 + 150, w.end(), 5);
    ASSERT_NE(maps, w.end());
    *maps = 128;
    EXPECT_FALSE(load(w));
    EXPECT_EQ(chunkOf(*c), before);
    // A chunk of nothing but its header is cut short, not of another version.
    host.messages.clear();
    EXPECT_FALSE(load(sized(Words(before.begin(), before.begin() + 5))));
    ASSERT_EQ(host.messages.messages().size(), 1u);
    EXPECT_NE(host.messages.messages()[0].find("damaged or cut short"), std::string::npos);
}

TEST_F(StateChunk, OldBodyVersionAndOddRecordsLoad) {
    // Body version 1: no product word, one word per learn pair; a plain record with n = 3
    // uses its first word; an unknown id is passed over; missing ids keep their values,
    // except those of parameters added since, which sound as the state did: the classic bank.
    c->setParameter(tag::mix, 0.25f);
    c->setParameter(tag::articulate, 1.0f);
    c->setParameter(tag::consonants, 0.6f);
    Words w = header(1);
    const Words body = {
        1, 3, floatBits(0.75f), 99, 99, 77, 2, 5, 6, -1, 11, tag::synth_level, -2, -3, 0, 16, 0, -4, 0, 0, 0};
    w.insert(w.end(), body.begin(), body.end());
    ASSERT_TRUE(load(sized(w)));
    EXPECT_EQ(c->getParameter(tag::focus), 0.75f);
    EXPECT_EQ(c->getParameter(tag::mix), 0.25f);
    EXPECT_EQ(c->parameters().value(tag::articulate), 0.0f);
    EXPECT_EQ(c->parameters().value(tag::consonants), 0.0f);
    EXPECT_FALSE(c->engine().vocoder().articulate());
    ASSERT_EQ(c->midi().map(11).size(), 1u);
    EXPECT_EQ(c->midi().map(11)[0].tag, tag::synth_level);
    EXPECT_EQ(c->currentProgramName(), "default");  // no name section entry
}

TEST_F(StateChunk, LearnPairsForNoParameterAreLeftOutSoTheStateStaysReadable) {
    // Tags 500 and -7 drive nothing (and a tag of -2 or -3, written again, would end its
    // map early); the pressure map's pair of tag -2 is read as a pair, by its count.
    Words w = header(3);
    const Words body = {-1, 7, 500, 1, tag::mix,   4, -7, 0, -2, -3, 0,
                        16, 2, -2,  0, tag::noise, 0, -4, 0, 0,  0};
    w.insert(w.end(), body.begin(), body.end());
    ASSERT_TRUE(load(sized(w)));
    ASSERT_EQ(c->midi().map(7).size(), 1u);
    EXPECT_EQ(c->midi().map(7)[0].tag, tag::mix);
    ASSERT_EQ(c->midi().map(MidiIntake::kPressureMap).size(), 1u);
    const Words again = chunkOf(*c);
    EXPECT_TRUE(load(again));
    EXPECT_EQ(chunkOf(*c), again);
    EXPECT_FALSE(c->midi().appendPair(8, -2, 0));
}

TEST_F(StateChunk, RestoringTellsTheMakersHost) {
    FakeHost maker;
    maker.vendor = "Tallow Mill";
    auto m = makeInstance(maker);
    ASSERT_TRUE(loadChunk(*m, chunkOf(*m)));
    ASSERT_EQ(maker.vendorCalls.size(), 1u);
    EXPECT_EQ(maker.vendorCalls[0].second, 120.0f);
    ASSERT_TRUE(load(chunkOf(*c)));
    EXPECT_TRUE(host.vendorCalls.empty());
}

class Presets : public StateChunk {
  protected:
    std::string file(const std::string& name) const { return dir.file(name); }
    TempDir dir;
};

TEST_F(Presets, SaveAndLoadByTitle) {
    c->setParameter(tag::focus, 0.8f);
    ASSERT_TRUE(c->savePresetFile(file("Robot Voice.kfn")));
    const Words saved = chunkOf(*c);
    const auto* p = reinterpret_cast<const uint8_t*>(saved.data());
    EXPECT_EQ(readBytes(file("Robot Voice.kfn")), Bytes(p, p + saved.size() * 4));

    FakeHost other;
    auto copy = makeInstance(other);
    ASSERT_TRUE(copy->loadPresetFile(file("Robot Voice.kfn")));
    EXPECT_EQ(copy->getParameter(tag::focus), 0.8f);
    EXPECT_EQ(copy->currentProgramName(), "Robot Voice");
    EXPECT_EQ(other.updateDisplayCalls, 1);

    std::filesystem::create_directories(file("x.y"));
    writeWords(file("x.y/a.b.kfn"), saved);
    ASSERT_TRUE(copy->loadPresetFile(file("x.y/a.b.kfn")));
    EXPECT_EQ(copy->currentProgramName(), "a.b");
    // Where only a regular file may be replaced, the save fails and says why.
    EXPECT_FALSE(copy->savePresetFile(file("x.y")));
    EXPECT_EQ(other.messages.messages().size(), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(file("x.y")));
}

TEST_F(Presets, NewerShortMissingAndForeignFilesAreRefused) {
    c->setParameter(tag::focus, 0.1f);
    Words w = chunkOf(*c);
    w[1] = 4;
    writeWords(file("new.kfn"), w);
    EXPECT_FALSE(c->loadPresetFile(file("new.kfn")));
    EXPECT_EQ(host.messages.messages(),
              std::vector<std::string>{"preset was written with a newer version of Kestrafone"});
    w[1] = 3;
    writeWords(file("cut.kfn"), Words(w.begin(), w.begin() + 40));
    writeWords(file("tiny.kfn"), Words{7});
    w[6] = 12345;  // a header the state reader refuses
    writeWords(file("foreign.kfn"), w);
    for (const char* name : {"cut.kfn", "tiny.kfn", "foreign.kfn"})
        EXPECT_FALSE(c->loadPresetFile(file(name)));
    host.messages.clear();
    EXPECT_FALSE(c->loadPresetFile(file("missing.kfn")));
    EXPECT_TRUE(host.messages.messages().empty());
    // No success, and the name stays with the sound.
    EXPECT_EQ(c->getParameter(tag::focus), 0.1f);
    EXPECT_EQ(c->currentProgramName(), "default");
    EXPECT_EQ(host.updateDisplayCalls, 0);
}

TEST_F(Presets, ListingSortsFilesThenFolders) {
    for (const char* n : {"b.kfn", "A.kfn", "c.txt", "_z.kfn"}) writeWords(file(n), Words{0});
    std::filesystem::create_directories(file("Sub"));
    std::vector<std::string> names;
    for (const auto& e : TMUniClient::listPresets(dir.path().string()))
        names.push_back(e.name + (e.isFolder ? "/" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b", "_z", "Sub/"}));
}

TEST_F(Presets, LearnMapsStayOnPresetLoadsWhenIsolated) {
    platform::SettingsStore store;
    ASSERT_TRUE(store.writeNumber("CC Map Recall isolate", 1));
    FakeHost h;
    auto isolated = makeInstance(h);
    ASSERT_EQ(isolated->ccMapRecallIsolate(), 1.0f);
    isolated->midi().appendPair(20, tag::mix, 0);
    ASSERT_TRUE(isolated->savePresetFile(file("maps.kfn")));
    isolated->clearLearn(tag::mix);
    isolated->midi().appendPair(21, tag::focus, 0);
    ASSERT_TRUE(isolated->loadPresetFile(file("maps.kfn")));
    EXPECT_TRUE(isolated->midi().map(20).empty());
    EXPECT_EQ(isolated->midi().map(21).size(), 1u);
    const Words w = chunkOf(*isolated);
    isolated->midi().appendPair(22, tag::focus, 0);
    ASSERT_TRUE(loadChunk(*isolated, w));
    EXPECT_TRUE(isolated->midi().map(22).empty()) << "the host's restore always replaces the maps";
    ASSERT_TRUE(store.writeNumber("CC Map Recall isolate", 0));
}

TEST_F(Presets, TheDefaultPresetLoadsAtConstruction) {
    platform::SettingsStore store;
    std::string presets;
    ASSERT_TRUE(store.readText("presetpath0", presets));
    std::filesystem::create_directories(presets);
    c->setParameter(tag::focus, 0.42f);
    ASSERT_TRUE(c->savePresetFile(presets + "default.kfn"));
    FakeHost h;
    auto fresh = makeInstance(h);
    EXPECT_EQ(fresh->getParameter(tag::focus), 0.42f);
    EXPECT_EQ(fresh->currentProgramName(), "default");
    std::filesystem::remove(presets + "default.kfn");
}

}  // namespace
}  // namespace kf::test
