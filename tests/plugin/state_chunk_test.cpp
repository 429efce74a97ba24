// The state chunk through getChunk / setChunk and preset files: its exact layout, round
// trips, every refusal, and that nothing damaged ever changes the state.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "fake_host.h"

namespace kf::test {
namespace {

using Words = std::vector<int32_t>;

Words chunkOf(TMUniClient& c) {
    void* data = nullptr;
    const int32_t size = c.getChunk(&data, false);
    Words w(static_cast<std::size_t>(size / 4));
    std::memcpy(w.data(), data, static_cast<std::size_t>(size));
    return w;
}

int32_t floatBits(float f) {
    int32_t i;
    std::memcpy(&i, &f, 4);
    return i;
}

class StateChunk : public ::testing::Test {
  protected:
    void SetUp() override { c = makeInstance(host); }
    bool load(Words w) { return c->setChunk(w.data(), static_cast<int32_t>(w.size() * 4), false) == 1; }
    FakeHost host;
    std::unique_ptr<TMUniClient> c;
};

TEST_F(StateChunk, LayoutWithEmptyLearnMaps) {
    const Words w = chunkOf(*c);
    ASSERT_GE(w.size(), 9u);
    EXPECT_EQ(w[0], static_cast<int32_t>(w.size()));
    EXPECT_EQ(w[1], 3);
    EXPECT_EQ(w[2], floatBits(120.0f));
    EXPECT_EQ(w[3], floatBits(44100.0f));
    EXPECT_EQ(w[4], 26101977);
    EXPECT_EQ((Words{w[5], w[6], w[7], w[8]}), (Words{5, 1, 3, 41}));
    std::size_t i = 9;
    for (int id = 1; id <= 50; ++id) {
        ASSERT_EQ(w[i], id);
        if (id == 33) {  // the sample: an empty 7-word record
            ASSERT_EQ(w[i + 1], 7);
            EXPECT_EQ(static_cast<uint32_t>(w[i + 2]), 0xE6D0324Au);
            EXPECT_EQ(w[i + 3], 1);
            EXPECT_EQ(w[i + 4], 0);
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
    Words w = chunkOf(*c);
    FakeHost other;
    auto copy = makeInstance(other);
    ASSERT_EQ(copy->setChunk(w.data(), static_cast<int32_t>(w.size() * 4), false), 1);
    EXPECT_EQ(chunkOf(*copy), w);
    EXPECT_EQ(copy->midi().map(7).size(), 2u);
    EXPECT_EQ(copy->midi().map(7)[1].aux, -2);

    // Both render the same audio from the same input.
    std::vector<float> a(4096), b(4096), l1(4096), r1(4096), l2(4096), r2(4096);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = std::sin(static_cast<float>(i) * 0.05f) * 0.3f;
        b[i] = std::sin(static_cast<float>(i) * 0.011f) * 0.3f;
    }
    float* in[2] = {a.data(), b.data()};
    float* o1[2] = {l1.data(), r1.data()};
    float* o2[2] = {l2.data(), r2.data()};
    c->processReplacing(in, o1, 4096);
    copy->processReplacing(in, o2, 4096);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(r1, r2);
}

TEST_F(StateChunk, LongProgramNamesSurvive) {
    Words w = chunkOf(*c);
    // Replace the program name "default" (2 words) by a 301-byte name.
    const std::string name(301, 'x');
    auto at = std::find(w.begin(), w.end(), -3) - w.begin();
    Words named(w.begin(), w.begin() + at + 2);
    named.push_back(static_cast<int32_t>(name.size()));
    for (std::size_t i = 0; i < name.size(); i += 4) {
        int32_t word = 0;
        std::memcpy(&word, name.data() + i, std::min<std::size_t>(4, name.size() - i));
        named.push_back(word);
    }
    named.insert(named.end(), w.begin() + at + 5, w.end());
    named[0] = static_cast<int32_t>(named.size());
    ASSERT_TRUE(load(named));
    EXPECT_EQ(c->currentProgramName(), name);
    EXPECT_EQ(chunkOf(*c), named);
}

TEST_F(StateChunk, RefusalsSayWhyAndChangeNothing) {
    c->setParameter(tag::focus, 0.3f);
    const Words before = chunkOf(*c);
    struct Case {
        std::size_t word;
        int32_t value;
        const char* message;
    } cases[] = {
        {4, 12345, "\t This is no valid Kestrafone format!"},
        {6, 2, "wrong plugin version"},
        {7, 0, "This is not a Kestrafone file"},
        {8, 40, "This is not a Kestrafone file"},
    };
    for (const Case& k : cases) {
        Words w = before;
        for (std::size_t i = 9; i < w.size(); ++i)
            if (w[i] == 1 && w[i - 1] == 1) w[i + 1] = floatBits(0.9f);  // focus -> 0.9
        w[k.word] = k.value;
        host.messages.clear();
        EXPECT_FALSE(load(w));
        ASSERT_EQ(host.messages.messages().size(), 1u);
        EXPECT_EQ(host.messages.messages()[0], k.message);
        EXPECT_EQ(chunkOf(*c), before);
    }
}

TEST_F(StateChunk, EveryTruncationAndCorruptCountIsRefusedWhole) {
    c->midi().appendPair(5, tag::mix, 0);
    c->setParameter(tag::focus, 0.3f);
    const Words before = chunkOf(*c);
    Words source = before;
    source[0] = static_cast<int32_t>(source.size());
    for (std::size_t cut = 1; cut < source.size(); ++cut) {
        Words w(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_FALSE(load(w)) << cut;
    }
    EXPECT_EQ(chunkOf(*c), before);
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
}

TEST_F(StateChunk, OldBodyVersionAndOddRecordsLoad) {
    // Body version 1: no product word, one word per learn pair; a plain record with n = 3
    // uses its first word; an unknown id is passed over; missing ids keep their values.
    c->setParameter(tag::mix, 0.25f);
    const Words w = {0,
                     3,
                     floatBits(120.f),
                     floatBits(44100.f),
                     26101977,
                     5,
                     1,
                     1,
                     1,
                     3,
                     floatBits(0.75f),
                     99,
                     99,  // focus with two extra words
                     77,
                     2,
                     5,
                     6,  // an id nobody has
                     -1,
                     11,
                     tag::synth_level,
                     -2,
                     -3,
                     0,
                     16,
                     0,
                     -4,
                     0,
                     0,
                     0};
    Words sized = w;
    sized[0] = static_cast<int32_t>(sized.size());
    ASSERT_TRUE(load(sized));
    EXPECT_EQ(c->getParameter(tag::focus), 0.75f);
    EXPECT_EQ(c->getParameter(tag::mix), 0.25f);
    ASSERT_EQ(c->midi().map(11).size(), 1u);
    EXPECT_EQ(c->midi().map(11)[0].tag, tag::synth_level);
    EXPECT_EQ(c->currentProgramName(), "default");  // no name section entry
}

TEST_F(StateChunk, LearnPairsForNoParameterAreLeftOutSoTheStateStaysReadable) {
    // Tags 500 and -7 drive nothing (and a tag of -2 or -3, written again, would end its
    // map early); the pressure map's pair of tag -2 is read as a pair, by its count.
    Words w = {0,
               3,
               floatBits(120.f),
               floatBits(44100.f),
               26101977,
               5,
               1,
               3,
               41,
               -1,
               7,
               500,
               1,
               tag::mix,
               4,
               -7,
               0,
               -2,
               -3,
               0,
               16,
               2,
               -2,
               0,
               tag::noise,
               0,
               -4,
               0,
               0,
               0};
    w[0] = static_cast<int32_t>(w.size());
    ASSERT_TRUE(load(w));
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
    Words w = chunkOf(*m);
    ASSERT_EQ(m->setChunk(w.data(), static_cast<int32_t>(w.size() * 4), false), 1);
    ASSERT_EQ(maker.vendorCalls.size(), 1u);
    EXPECT_EQ(std::get<1>(maker.vendorCalls[0]), 120.0f);
    ASSERT_TRUE(load(chunkOf(*c)));
    EXPECT_TRUE(host.vendorCalls.empty());
}

class Presets : public StateChunk {
  protected:
    std::string folder =
        std::filesystem::temp_directory_path() / ("kf-presets-" + std::to_string(::getpid()));
    void SetUp() override {
        StateChunk::SetUp();
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    void writeWords(const std::string& path, const Words& w) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(w.data()), static_cast<std::streamsize>(w.size() * 4));
    }
};

TEST_F(Presets, SaveAndLoadByTitle) {
    c->setParameter(tag::focus, 0.8f);
    const std::string path = folder + "/Robot Voice.kfn";
    ASSERT_TRUE(c->savePresetFile(path));
    std::ifstream in(path, std::ios::binary);
    Words saved(chunkOf(*c).size());
    in.read(reinterpret_cast<char*>(saved.data()), static_cast<std::streamsize>(saved.size() * 4));
    EXPECT_EQ(saved, chunkOf(*c));

    FakeHost other;
    auto copy = makeInstance(other);
    ASSERT_TRUE(copy->loadPresetFile(path));
    EXPECT_EQ(copy->getParameter(tag::focus), 0.8f);
    EXPECT_EQ(copy->currentProgramName(), "Robot Voice");
    EXPECT_EQ(other.updateDisplayCalls, 1);

    std::filesystem::create_directories(folder + "/x.y");
    writeWords(folder + "/x.y/a.b.kfn", saved);
    ASSERT_TRUE(copy->loadPresetFile(folder + "/x.y/a.b.kfn"));
    EXPECT_EQ(copy->currentProgramName(), "a.b");
}

TEST_F(Presets, NewerShortAndMissingFilesAreRefused) {
    c->setParameter(tag::focus, 0.1f);
    Words w = chunkOf(*c);
    w[1] = 4;
    writeWords(folder + "/new.kfn", w);
    EXPECT_FALSE(c->loadPresetFile(folder + "/new.kfn"));
    ASSERT_EQ(host.messages.messages().size(), 1u);
    EXPECT_EQ(host.messages.messages()[0], "preset was written with a newer version of Kestrafone");
    w[1] = 3;
    writeWords(folder + "/cut.kfn", Words(w.begin(), w.begin() + 40));
    EXPECT_FALSE(c->loadPresetFile(folder + "/cut.kfn"));
    writeWords(folder + "/tiny.kfn", Words{7});
    EXPECT_FALSE(c->loadPresetFile(folder + "/tiny.kfn"));
    host.messages.clear();
    EXPECT_FALSE(c->loadPresetFile(folder + "/missing.kfn"));
    EXPECT_TRUE(host.messages.messages().empty());
    // A header the state reader refuses: no success, and the name stays with the sound.
    w[6] = 12345;
    writeWords(folder + "/foreign.kfn", w);
    EXPECT_FALSE(c->loadPresetFile(folder + "/foreign.kfn"));
    EXPECT_EQ(c->getParameter(tag::focus), 0.1f);
    EXPECT_EQ(c->currentProgramName(), "default");
    EXPECT_EQ(host.updateDisplayCalls, 0);
    // A chunk of nothing but its header is cut short, not of another version.
    host.messages.clear();
    Words header(w.begin(), w.begin() + 5);
    header[0] = 5;
    EXPECT_EQ(c->setChunk(header.data(), 20, false), 0);
    ASSERT_EQ(host.messages.messages().size(), 1u);
    EXPECT_NE(host.messages.messages()[0].find("damaged or cut short"), std::string::npos);
}

// A save follows a link to the file it names and replaces nothing but a regular file.
TEST_F(Presets, SavingReplacesOnlyRegularFiles) {
    namespace fs = std::filesystem;
    const std::string preset = folder + "/real.kfn", fifo = folder + "/pipe.kfn", node = folder + "/null";
    writeWords(preset, Words{1, 2, 3});
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A device node of our own (the null device's numbers) needs root; a FIFO stands in.
    const bool device = ::mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    if (!device) {
        ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
    }
    fs::create_symlink(preset, folder + "/link.kfn");
    fs::create_symlink(node, folder + "/device-link.kfn");
    for (const std::string& refused : {fifo, folder + "/device-link.kfn", folder})
        EXPECT_FALSE(c->savePresetFile(refused)) << refused;
    EXPECT_EQ(host.messages.messages().size(), 3u);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(device ? fs::is_character_file(node) : fs::is_fifo(node));
    EXPECT_TRUE(fs::is_symlink(folder + "/device-link.kfn"));

    ASSERT_TRUE(c->savePresetFile(folder + "/link.kfn"));
    EXPECT_TRUE(fs::is_symlink(folder + "/link.kfn"));
    EXPECT_EQ(fs::file_size(preset), chunkOf(*c).size() * 4);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 5);  // no temporaries
}

TEST_F(Presets, ListingSortsFilesThenFolders) {
    for (const char* n : {"b.kfn", "A.kfn", "c.txt", "_z.kfn"}) writeWords(folder + "/" + n, Words{0});
    std::filesystem::create_directories(folder + "/Sub");
    const auto list = TMUniClient::listPresets(folder);
    std::vector<std::string> names;
    for (const auto& e : list) names.push_back(e.name + (e.isFolder ? "/" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b", "_z", "Sub/"}));
}

TEST_F(Presets, LearnMapsStayOnPresetLoadsWhenIsolated) {
    platform::SettingsStore store;
    ASSERT_TRUE(store.writeNumber("CC Map Recall isolate", 1));
    FakeHost h;
    auto isolated = makeInstance(h);
    ASSERT_EQ(isolated->ccMapRecallIsolate(), 1.0f);
    const std::string path = folder + "/maps.kfn";
    isolated->midi().appendPair(20, tag::mix, 0);
    ASSERT_TRUE(isolated->savePresetFile(path));
    isolated->clearLearn(tag::mix);
    isolated->midi().appendPair(21, tag::focus, 0);
    ASSERT_TRUE(isolated->loadPresetFile(path));
    EXPECT_TRUE(isolated->midi().map(20).empty());
    EXPECT_EQ(isolated->midi().map(21).size(), 1u);
    Words w;
    {
        void* data = nullptr;
        const int32_t size = isolated->getChunk(&data, false);
        w.resize(static_cast<std::size_t>(size / 4));
        std::memcpy(w.data(), data, static_cast<std::size_t>(size));
    }
    isolated->midi().appendPair(22, tag::focus, 0);
    ASSERT_EQ(isolated->setChunk(w.data(), static_cast<int32_t>(w.size() * 4), false), 1);
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
