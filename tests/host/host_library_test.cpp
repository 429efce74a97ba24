// The host library against the fake plug-in, whose every answer and observation we know.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <utility>

#include "fake_plugin_log.h"
#include "host/render.h"
#include "host/vst_host.h"
#include "support/temp_files.h"

namespace kf::host {
namespace {

const fake::FakeLog& logOf(Plugin& p) {
    return *reinterpret_cast<const fake::FakeLog*>(p.dispatch(vst::effVendorSpecific, fake::kGetLog));
}

std::unique_ptr<Plugin> loadFake(const char* path, const LoadOptions& options = {}) {
    std::string error;
    auto plugin = Plugin::load(path, options, error);
    EXPECT_NE(plugin, nullptr) << error;
    return plugin;
}

std::vector<std::vector<float>> ramp(int channels, int frames) {
    std::vector<std::vector<float>> audio(static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            audio[static_cast<std::size_t>(c)].push_back(0.001f * static_cast<float>(i) - 0.3f * c);
    return audio;
}

// Both ways real plug-ins export their entry point.
class EntryPoints : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};
INSTANTIATE_TEST_SUITE_P(Fake, EntryPoints,
                         ::testing::Values(std::make_pair(FAKE_VSTMAIN_PATH, "VSTPluginMain"),
                                           std::make_pair(FAKE_MAIN_PATH, "main")),
                         [](const auto& p) { return std::string(p.param.second); });

TEST_P(EntryPoints, LoadsAndAnswersLikeAScanner) {
    LoadOptions options;
    options.identity.vendor = "Tallow Mill";
    options.identity.product = "Sony ACID Pro";
    auto plugin = loadFake(GetParam().first, options);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->entryName(), GetParam().second);

    // The answers themselves are checked through the render tool's --info.
    EXPECT_EQ(fourCharCode(plugin->uniqueId()), "fkgn");

    // What the plug-in learnt about us inside its entry point, before it had a record.
    const fake::FakeLog& log = logOf(*plugin);
    EXPECT_STREQ(log.hostVendor, "Tallow Mill");
    EXPECT_STREQ(log.hostProduct, "Sony ACID Pro");
    EXPECT_EQ(log.hostVersion, 2400);
    EXPECT_TRUE(plugin->host().versionAskedWithoutEffect());
    ASSERT_GE(log.numOpcodes, 1);
    EXPECT_EQ(log.opcodes[0], vst::effOpen);
}

TEST_P(EntryPoints, RendersInHostSizedBlocksAndPadsShortInputs) {
    auto plugin = loadFake(GetParam().first);
    ASSERT_NE(plugin, nullptr);
    plugin->setParameter(0, 0.25f);  // gain 0.5
    plugin->setParameter(2, 0.5f);   // right level 0.5

    const auto input = ramp(2, 900);
    std::vector<std::vector<float>> output;
    RenderSettings settings;
    settings.blockSize = 64;
    std::string error;
    ASSERT_TRUE(render(*plugin, input, 1000, output, settings, {}, error)) << error;

    ASSERT_EQ(output.size(), 2u);
    ASSERT_EQ(output[0].size(), 1000u);
    EXPECT_EQ(output[0][899], input[0][899] * 0.5f);
    EXPECT_EQ(output[1][899], input[1][899] * 0.25f);
    EXPECT_EQ(output[1][900], 0.0f);

    const fake::FakeLog& log = logOf(*plugin);
    ASSERT_EQ(log.numBlocks, 16);  // 15 full blocks and one of 40
    for (int b = 0; b < 15; ++b) EXPECT_EQ(log.blockFrames[b], 64);
    EXPECT_EQ(log.blockFrames[15], 40);
    EXPECT_EQ(log.processLevelInProcess, static_cast<intptr_t>(ProcessLevel::Offline));
    EXPECT_EQ(plugin->host().processLevel(), ProcessLevel::User);
    EXPECT_FALSE(plugin->running());

    // The usual start-up and release order around the processing calls.
    const std::vector<int32_t> opcodes(log.opcodes, log.opcodes + log.numOpcodes);
    const std::vector<int32_t> expected = {vst::effOpen,         vst::effSetSampleRate, vst::effSetBlockSize,
                                           vst::effMainsChanged, vst::effStartProcess,  vst::effStopProcess,
                                           vst::effMainsChanged};
    EXPECT_EQ(opcodes, expected);
}

TEST(HostRender, MidiEventsArriveInTheirBlockAtTheirFrame) {
    auto plugin = loadFake(FAKE_VSTMAIN_PATH);
    ASSERT_NE(plugin, nullptr);
    // Unsorted on purpose; two events share frame 130 and must keep their order.
    const std::vector<TimedMidiEvent> events = {
        {130, {0x90, 60, 100}}, {0, {0x90, 1, 1}},   {63, {0x90, 2, 2}},   {64, {0x90, 3, 3}},
        {130, {0x80, 60, 0}},   {999, {0xB0, 7, 9}}, {1000, {0x90, 4, 4}}, {-5, {0xE0, 0, 64}}};
    std::vector<std::vector<float>> output;
    RenderSettings settings;
    settings.blockSize = 64;
    std::string error;
    ASSERT_TRUE(render(*plugin, {}, 1000, output, settings, events, error)) << error;

    struct Seen {
        int32_t block, delta;
        uint8_t status, data1;
        bool operator==(const Seen&) const = default;
    };
    const std::vector<Seen> expected = {{0, 0, 0xE0, 0},  {0, 0, 0x90, 1},  {0, 63, 0x90, 2}, {1, 0, 0x90, 3},
                                        {2, 2, 0x90, 60}, {2, 2, 0x80, 60}, {15, 39, 0xB0, 7}};
    const fake::FakeLog& log = logOf(*plugin);
    std::vector<Seen> seen;
    for (int i = 0; i < log.numEvents; ++i)
        seen.push_back(
            {log.events[i].block, log.events[i].deltaFrames, log.events[i].data[0], log.events[i].data[1]});
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i)
        EXPECT_TRUE(seen[i] == expected[i]) << "event " << i << ": block " << seen[i].block << " delta "
                                            << seen[i].delta << " status " << int(seen[i].status);
}

TEST(HostRender, TransportMovesPerBlockAndTimeInfoFollowsTheRequest) {
    auto plugin = loadFake(FAKE_VSTMAIN_PATH);
    ASSERT_NE(plugin, nullptr);
    RenderSettings settings;
    settings.sampleRate = 48000.0;
    settings.blockSize = 100;
    settings.tempo = 120.0;
    settings.timeSigNumerator = 7;
    settings.timeSigDenominator = 8;
    settings.songStartFrame = 172800;  // 3.6 s: quarter note 7.2, in the bar that starts at 7.0
    std::vector<std::vector<float>> output;
    std::string error;
    ASSERT_TRUE(render(*plugin, {}, 1000, output, settings, {}, error)) << error;

    const fake::FakeLog& log = logOf(*plugin);
    ASSERT_EQ(log.numBlocks, 10);
    for (int b = 0; b < 10; ++b) {
        const fake::BlockTime& t = log.times[b];
        ASSERT_TRUE(t.present);
        const double samplePos = 172800.0 + 100.0 * b;
        EXPECT_EQ(t.samplePos, samplePos);
        EXPECT_DOUBLE_EQ(t.ppqPos, samplePos / 48000.0 * 2.0);
        EXPECT_EQ(t.tempo, 120.0);
        EXPECT_EQ(t.barStartPos, 7.0);
        EXPECT_EQ(t.timeSigNumerator, 7);
        EXPECT_EQ(t.timeSigDenominator, 8);
        const int32_t want = vst::kVstTransportPlaying | fake::kTimeRequest;
        EXPECT_EQ(t.flags, want) << "only what was asked for, and the transport state";
    }

    // Stopped transport, then a host without time information.
    settings.playing = false;
    ASSERT_TRUE(render(*plugin, {}, 100, output, settings, {}, error)) << error;
    plugin->host().setTimeInfoAvailable(false);
    ASSERT_TRUE(render(*plugin, {}, 100, output, settings, {}, error)) << error;
    ASSERT_EQ(log.numBlocks, 12);
    EXPECT_TRUE(log.times[10].present);
    EXPECT_EQ(log.times[10].flags & vst::kVstTransportPlaying, 0);
    EXPECT_EQ(log.times[10].samplePos, 172800.0);
    EXPECT_FALSE(log.times[11].present);
}

TEST(HostRender, RefusesBadSettings) {
    auto plugin = loadFake(FAKE_VSTMAIN_PATH);
    ASSERT_NE(plugin, nullptr);
    struct Case {
        int32_t blockSize;
        double tempo;
        std::vector<TempoChange> map;
        const char* message;
    };
    const Case cases[] = {
        {0, 120.0, {}, "block size"},
        {64, std::nan(""), {}, "tempo"},
        {64, 120.0, {{10, 0.0, 120.0}}, "invalid tempo map"},  // must start at the first frame
        {64, 120.0, {{0, 0.0, 120.0}, {5, 1.0, 0.0}}, "invalid tempo map"},
        {64, 120.0, {{0, 0.0, 120.0}, {50, 1.0, 90.0}, {40, 2.0, 90.0}}, "invalid tempo map"},
    };
    std::vector<std::vector<float>> output;
    std::string error;
    for (const Case& c : cases) {
        RenderSettings settings;
        settings.blockSize = c.blockSize;
        settings.tempo = c.tempo;
        settings.tempoMap = c.map;
        EXPECT_FALSE(render(*plugin, {}, 100, output, settings, {}, error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }

    // A plug-in already running with a smaller block size must not get larger blocks.
    RenderSettings settings;
    settings.blockSize = 64;
    plugin->start(44100.0, 32);
    EXPECT_FALSE(render(*plugin, {}, 100, output, settings, {}, error));
    settings.blockSize = 32;
    EXPECT_TRUE(render(*plugin, {}, 100, output, settings, {}, error)) << error;
    EXPECT_TRUE(plugin->running()) << "a render leaves a plug-in it did not start running";
}

// Each instance of one library has its own host: identity, edit records, vendor calls.
TEST(HostCallbacks, EachInstanceRecordsItsOwnEditsAndVendorSpecificCalls) {
    LoadOptions first, second;
    first.identity.vendor = "First";
    second.identity.vendor = "Second";
    auto a = loadFake(FAKE_VSTMAIN_PATH, first);
    auto b = loadFake(FAKE_VSTMAIN_PATH, second);
    ASSERT_TRUE(a && b);
    EXPECT_STREQ(logOf(*a).hostVendor, "First");
    EXPECT_STREQ(logOf(*b).hostVendor, "Second");
    a->host().setVendorSpecificAnswer(77);
    EXPECT_EQ(a->dispatch(vst::effVendorSpecific, fake::kEdit, 0, nullptr, 0.75f), 77);

    using K = EditRecord::Kind;
    const std::vector<EditRecord> expected = {
        {K::BeginEdit, 0, 0.0f}, {K::Automate, 0, 0.75f}, {K::EndEdit, 0, 0.0f}};
    EXPECT_EQ(a->host().edits(), expected);
    EXPECT_EQ(a->host().callCount(vst::audioMasterAutomate), 1u);
    EXPECT_EQ(a->parameter(0), 0.75f);
    const auto calls = a->host().vendorSpecificCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].index, 7);
    EXPECT_EQ(calls[0].value, 9);
    EXPECT_EQ(calls[0].opt, 0.25f);
    EXPECT_STREQ(static_cast<const char*>(calls[0].ptr), "payload");
    EXPECT_TRUE(b->host().edits().empty());
    a->host().clearRecords();
    EXPECT_TRUE(a->host().edits().empty());

    a.reset();  // unloading one must leave the other working
    std::vector<std::vector<float>> output;
    std::string error;
    EXPECT_TRUE(render(*b, ramp(2, 10), 10, output, {}, {}, error)) << error;
    EXPECT_EQ(output[0][5], ramp(2, 10)[0][5]);
}

TEST(HostCallbacks, AnswersQueriesWithinTheInterfaceLimits) {
    HostIdentity identity;
    identity.vendor = std::string(100, 'v');
    identity.vendorVersion = 1234;
    HostContext host(identity);
    host.setSampleRate(96000.0);
    host.setBlockSize(256);
    const std::pair<int32_t, intptr_t> answers[] = {{vst::audioMasterGetVendorVersion, 1234},
                                                    {vst::audioMasterGetSampleRate, 96000},
                                                    {vst::audioMasterGetBlockSize, 256},
                                                    {vst::audioMasterGetCurrentProcessLevel, 1}};
    for (auto [opcode, answer] : answers)
        EXPECT_EQ(host.answer(nullptr, opcode, 0, 0, nullptr, 0.0f), answer) << opcode;
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(host.answer(nullptr, vst::audioMasterGetVendorString, 0, 0, buffer, 0.0f), 1);
    EXPECT_EQ(std::strlen(buffer), 64u) << "vendor strings are cut to the 64 characters plug-ins provide for";
    EXPECT_EQ(buffer[65], 'x');

    // With an empty request only the position, the rate and the transport state are valid.
    Transport t;
    t.samplePos = 480.0;
    t.ppqPos = 0.25;
    t.playing = true;
    host.setTransport(t);
    const auto* info = reinterpret_cast<const vst::VstTimeInfo*>(
        host.answer(nullptr, vst::audioMasterGetTime, 0, 0, nullptr, 0.0f));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->samplePos, 480.0);
    EXPECT_EQ(info->sampleRate, 96000.0);
    EXPECT_EQ(info->flags, vst::kVstTransportPlaying);
    EXPECT_EQ(info->ppqPos, 0.0);
    info = reinterpret_cast<const vst::VstTimeInfo*>(
        host.answer(nullptr, vst::audioMasterGetTime, 0, vst::kVstNanosValid, nullptr, 0.0f));
    EXPECT_EQ(info->flags, vst::kVstTransportPlaying | vst::kVstNanosValid);
    EXPECT_GT(info->nanoSeconds, 0.0);
}

TEST(HostLoading, ExplainsWhyALibraryCannotBeUsed) {
    test::TempDir dir;
    const std::string notElf = dir.file("bogus.so");
    std::ofstream(notElf) << "this is not a shared library\n";

    struct Case {
        std::string path;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {dir.file("missing.so"), "plug-in file not found: " + dir.file("missing.so")},
        {dir.path().string(), "not a file"},
        {notElf, "cannot load " + notElf + ": "},
        {FAKE_NOENTRY_PATH, "exports neither VSTPluginMain nor main"},
        {FAKE_BADMAGIC_PATH, "bad magic number 0x00000000"},
        {FAKE_NULLEFFECT_PATH, "entry point returned no effect"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(Plugin::load(c.path, {}, error), nullptr) << c.path;
        EXPECT_NE(error.find(c.expected), std::string::npos) << "got: " << error;
    }
}

}  // namespace
}  // namespace kf::host
