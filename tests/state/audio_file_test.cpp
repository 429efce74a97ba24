#include "state/audio_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "test_files.h"

namespace kf {
namespace {

using test::makeAiff;
using test::makeWav;

// Opens an in-memory image the way a file is opened.
TMAudioFile::Result openBytes(TMAudioFile& file, const test::Bytes& bytes, std::vector<uint8_t>& storage) {
    storage = bytes;
    std::FILE* stream = fmemopen(storage.data(), storage.size(), "rb");
    return file.openRead(stream);
}

struct Decoded {
    std::vector<float> left, right;
};

Decoded readAll(TMAudioFile& file) {
    Decoded d;
    d.left.assign(static_cast<std::size_t>(file.frames()), 99.0f);
    d.right.assign(static_cast<std::size_t>(file.frames()), 99.0f);
    EXPECT_EQ(file.readFrames(d.left.data(), d.right.data()), TMAudioFile::kOk);
    return d;
}

test::Bytes wavImage(uint32_t channels, uint32_t bits, uint32_t rate, const std::vector<int32_t>& samples) {
    test::WavSpec spec;
    spec.channels = channels;
    spec.bits = bits;
    spec.rate = rate;
    return makeWav(spec, samples);
}

test::Bytes aiffImage(uint32_t channels, uint32_t bits, uint32_t rate, const std::vector<int32_t>& samples) {
    test::AiffSpec spec;
    spec.channels = channels;
    spec.bits = bits;
    spec.rate = rate;
    return makeAiff(spec, samples);
}

TEST(AudioFileHeaders, AcceptedLayouts) {
    struct Case {
        bool aiff;
        uint32_t channels, bits, rate;
        int32_t layout, blockBytes;
    };
    for (const Case c : {Case{false, 1, 16, 22050, 0, 1024}, Case{false, 1, 24, 96000, 2, 972},
                         Case{false, 2, 16, 8000, 4, 1024}, Case{false, 2, 24, 44100, 6, 972},
                         Case{true, 1, 16, 22050, 1, 1024}, Case{true, 2, 24, 44100, 7, 972},
                         Case{true, 2, 24, 48000, 7, 972}, Case{true, 1, 24, 88200, 3, 972},
                         Case{true, 2, 16, 96000, 5, 1024}}) {
        SCOPED_TRACE(testing::Message()
                     << (c.aiff ? "AIFF " : "WAV ") << c.channels << "ch " << c.bits << "bit");
        const std::vector<int32_t> samples(c.channels * 5, 1);
        std::vector<uint8_t> storage;
        TMAudioFile file;
        ASSERT_EQ(
            openBytes(file, (c.aiff ? aiffImage : wavImage)(c.channels, c.bits, c.rate, samples), storage),
            TMAudioFile::kOk);
        EXPECT_EQ(file.layout(), c.layout);
        EXPECT_EQ(file.blockBytes(), c.blockBytes);
        EXPECT_EQ(file.frames(), 5);
        EXPECT_EQ(file.sampleRate(), static_cast<int32_t>(c.rate));
        EXPECT_EQ(file.format(), c.aiff ? TMAudioFile::kAiff : TMAudioFile::kWav);
        EXPECT_EQ(file.mode(), TMAudioFile::kReading);
    }
}

// Runs a shell command (sox) and returns its standard output.
test::Bytes run(const std::string& command) {
    test::Bytes out;
    std::FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    for (int c; (c = std::fgetc(p)) != EOF;) out.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(::pclose(p), 0) << command;
    return out;
}

// Files that older readers got wrong, each read as sox, an independent decoder, reads it:
// a LIST chunk whose text holds "data", a chunk ending in 'd' right before the data chunk,
// an AIFF with a comment chunk before COMM (sox's default), a 24-bit stereo
// WAVE_FORMAT_EXTENSIBLE file of plain PCM (sox's default at 24 bits).
TEST(AudioFileHeaders, ChunksAreWalkedByTheirSizes) {
    test::TempDir dir;
    const auto wavWith = [](const test::Bytes& before) {
        test::WavSpec spec;
        spec.fmtSize = 18;  // extra fmt bytes are passed over as well
        spec.beforeData = before;
        std::vector<int32_t> ramp;
        for (int32_t i = 0; i < 40; ++i) ramp.push_back(i * 1500 - 30000);
        return makeWav(spec, ramp);
    };
    test::writeBytes(
        dir.file("list-data.wav"),
        wavWith(test::riffChunk("LIST", std::string("INFOICMT\x16\0\0\0see the data below!!\0\0", 34))));
    test::Bytes oddThenD = test::riffChunk("odd ", "abc");  // padded to an even length
    const test::Bytes note = test::riffChunk("note", "od");
    oddThenD.insert(oddThenD.end(), note.begin(), note.end());
    test::writeBytes(dir.file("d-before-data.wav"), wavWith(oddThenD));
    run("sox -n -r 44100 -b 16 -c 1 '" + dir.file("comt.aiff") + "' synth 40s sine 300");
    run("sox -n -r 48000 -b 24 -c 2 '" + dir.file("extensible24.wav") + "' synth 40s sine 440 sine 660");

    for (const char* name : {"list-data.wav", "d-before-data.wav", "comt.aiff", "extensible24.wav"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        TMAudioFile file;
        EXPECT_EQ(file.openRead(path.c_str()), TMAudioFile::kOk);
        const Decoded d = readAll(file);
        const auto channels = static_cast<std::size_t>(std::max(file.channels(), 1));
        const test::Bytes raw = run("sox -D '" + path + "' -t f32 -");
        Decoded expected;
        for (std::size_t i = 0; i + channels * 4 <= raw.size(); i += channels * 4) {
            float v[2];
            std::memcpy(v, raw.data() + i, channels * 4);
            expected.left.push_back(v[0]);
            expected.right.push_back(v[channels - 1]);
        }
        EXPECT_EQ(d.left, expected.left);
        EXPECT_EQ(d.right, expected.right);
    }
}

// Headers that are refused, and claims beyond the file that are cut to the frames it holds.
TEST(AudioFileHeaders, RefusedOrCutToWhatTheFileHolds) {
    const auto misaligned = [](uint32_t channels, uint32_t align) {
        test::WavSpec s;
        s.channels = channels;
        s.align = align;
        return makeWav(s, std::vector<int32_t>(6, 0));
    };
    test::WavSpec floatSpec, hugeData;
    floatSpec.bits = 32;
    floatSpec.formatTag = 3;
    hugeData.dataSizeClaim = 0xFFFFFFF0;  // a recorder that never patched the size
    test::AiffSpec hugeCount;
    hugeCount.channels = 2;
    hugeCount.frameClaim = 4000000000;
    test::Bytes notWave = makeWav({}, {1, 2}), halfFrame = makeWav({}, {7, 7, 7}), cut = makeWav({}, {1});
    notWave[8] = 'X';
    halfFrame.push_back(0x7F);  // a trailing half frame is not a frame
    cut.resize(30);             // inside the header
    test::Bytes farOffset = makeAiff({}, {5});
    farOffset[farOffset.size() - 10] = 0x7F;  // the sound data offset points far past the end

    const int32_t kUnsupported = TMAudioFile::kUnsupported, kFailed = TMAudioFile::kFailed;
    const std::vector<std::tuple<const char*, test::Bytes, int32_t, int32_t>> cases = {
        {"mono with stereo alignment", misaligned(1, 4), kUnsupported, 0},
        {"stereo with mono alignment", misaligned(2, 2), kUnsupported, 0},
        {"8 bits", wavImage(1, 8, 44100, {1, 2}), kUnsupported, 0},
        {"32 bits", wavImage(1, 32, 44100, {1, 2}), kUnsupported, 0},
        {"float", makeWav(floatSpec, {1, 2}), kUnsupported, 0},
        {"three channels", wavImage(3, 16, 44100, std::vector<int32_t>(6, 0)), kUnsupported, 0},
        {"rate 0", wavImage(1, 16, 0, {1, 2}), kUnsupported, 0},
        {"AIFF at an unknown rate", aiffImage(1, 16, 32000, {1, 2}), kUnsupported, 0},
        {"AIFF of 8 bits", aiffImage(1, 8, 44100, {1, 2}), kUnsupported, 0},
        {"RIFF but not WAVE", notWave, kUnsupported, 0},
        {"Ogg", {'O', 'g', 'g', 'S', 0, 0}, kUnsupported, 0},
        {"no sample data", makeWav({}, {}), kFailed, 0},
        {"AIFF offset past the end", farOffset, kFailed, 0},
        {"cut inside the header", cut, kFailed, 0},
        {"4 GB data claim", makeWav(hugeData, std::vector<int32_t>(10, 7)), TMAudioFile::kOk, 10},
        {"4 billion AIFF frames", makeAiff(hugeCount, std::vector<int32_t>(10, 7)), TMAudioFile::kOk, 5},
        {"trailing half frame", halfFrame, TMAudioFile::kOk, 3},
    };
    for (const auto& [name, bytes, result, frames] : cases) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> storage;
        TMAudioFile file;
        EXPECT_EQ(openBytes(file, bytes, storage), result);
        EXPECT_EQ(file.frames(), frames);
        if (result != TMAudioFile::kOk) {
            EXPECT_EQ(file.mode(), TMAudioFile::kClosed);
            continue;
        }
        EXPECT_EQ(readAll(file).left.back(), 7 / 32768.0f);
    }
}

TEST(AudioFileHeaders, OnlyRegularFilesAreOpened) {
    TMAudioFile file;
    test::TempDir dir;
    EXPECT_EQ(file.openRead(dir.path().c_str()), TMAudioFile::kFailed);
    EXPECT_EQ(file.openRead("/dev/zero"), TMAudioFile::kFailed);
    EXPECT_EQ(file.openRead("x"), TMAudioFile::kFailed);
    EXPECT_EQ(file.openRead(dir.file("missing.wav").c_str()), TMAudioFile::kFailed);
    const std::string fifo = dir.file("pipe.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(file.openRead(fifo.c_str()), TMAudioFile::kFailed);  // and does not hang
}

TEST(AudioFileDecoding, EveryLayoutScalesAndSplitsChannels) {
    std::vector<uint8_t> storage;
    TMAudioFile file;
    // Big-endian 16-bit: 7F FF and 80 00, behind offset bytes that must be skipped.
    test::AiffSpec aiff;
    aiff.offset = 6;
    ASSERT_EQ(openBytes(file, makeAiff(aiff, {0x7FFF, -32768}), storage), TMAudioFile::kOk);
    Decoded d = readAll(file);
    EXPECT_EQ(d.left[0], 32767.0f / 32768.0f);
    EXPECT_EQ(d.left[1], -1.0f);
    EXPECT_EQ(d.right, d.left);

    // Little-endian 24-bit stereo: extremes and de-interleaving.
    test::WavSpec wav;
    wav.channels = 2;
    wav.bits = 24;
    ASSERT_EQ(openBytes(file, makeWav(wav, {8388607, -8388608, 1, -1}), storage), TMAudioFile::kOk);
    d = readAll(file);
    EXPECT_EQ(d.left, (std::vector<float>{8388607.0f / 8388608.0f, 1.0f / 8388608.0f}));
    EXPECT_EQ(d.right, (std::vector<float>{-1.0f, -1.0f / 8388608.0f}));

    // Big-endian 24-bit stereo.
    aiff.channels = 2;
    aiff.bits = 24;
    ASSERT_EQ(openBytes(file, makeAiff(aiff, {-2, 0x123456}), storage), TMAudioFile::kOk);
    d = readAll(file);
    EXPECT_EQ(d.left[0], -2.0f / 8388608.0f);
    EXPECT_EQ(d.right[0], 0x123456 / 8388608.0f);
}

TEST(AudioFileDecoding, BlocksJoinSeamlesslyAndReportProgress) {
    // 500 stereo 24-bit frames span four 972-byte blocks (the last one short).
    std::vector<int32_t> samples;
    for (int32_t i = 0; i < 1000; ++i) samples.push_back((i * 7919) % 8388607 - 4000000);
    test::WavSpec spec;
    spec.channels = 2;
    spec.bits = 24;
    std::vector<uint8_t> storage;
    TMAudioFile file;
    std::vector<float> fractions;
    file.setProgressCallback([](void* ctx, float f) { static_cast<std::vector<float>*>(ctx)->push_back(f); },
                             &fractions);
    ASSERT_EQ(openBytes(file, makeWav(spec, samples), storage), TMAudioFile::kOk);
    const Decoded d = readAll(file);
    for (std::size_t i = 0; i < 500; ++i) {
        ASSERT_EQ(d.left[i], static_cast<float>(samples[2 * i]) / 8388608.0f) << i;
        ASSERT_EQ(d.right[i], static_cast<float>(samples[2 * i + 1]) / 8388608.0f) << i;
    }
    ASSERT_EQ(fractions.size(), 4u);  // 3000 bytes: 972 + 972 + 972 + 84
    EXPECT_EQ(fractions[0], 0.0f);
    EXPECT_FLOAT_EQ(fractions[1], 972.0f / 3000.0f);
    EXPECT_FLOAT_EQ(fractions[3], 2916.0f / 3000.0f);
}

TEST(AudioFileWriting, SixteenBitStereoAtTheGivenRate) {
    test::TempDir dir;
    const std::string path = dir.file("out.wav");
    const float left[3] = {0.5f, -1.0f, 2.0f};
    const float right[3] = {-0.5f, std::nanf(""), -3.0f};
    TMAudioFile file;
    EXPECT_EQ(file.writeWav(left, right, 3), TMAudioFile::kWrongMode);
    ASSERT_EQ(file.openWrite(path.c_str(), 48000), TMAudioFile::kOk);
    ASSERT_EQ(file.writeWav(left, right, 3), TMAudioFile::kOk);
    ASSERT_TRUE(file.close());

    test::ByteWriter expected;
    expected.tag("RIFF");
    expected.le32(36 + 12);
    expected.tag("WAVE");
    expected.tag("fmt ");
    expected.le32(16);
    expected.le16(1);
    expected.le16(2);
    expected.le32(48000);
    expected.le32(192000);
    expected.le16(4);
    expected.le16(16);
    expected.tag("data");
    expected.le32(12);
    // 0.5 * 32767 = 16383.5 -> 16383; -1 -> -32767; out of range and NaN clamp, never wrap.
    for (int32_t v : {16383, -16383, -32767, 0, 32767, -32768})
        expected.le16(static_cast<uint32_t>(v) & 0xFFFF);
    EXPECT_EQ(test::readBytes(path), expected.bytes);
}

TEST(AudioFileWriting, LongWritesSpanBlocksAndReadBack) {
    test::TempDir dir;
    const std::string path = dir.file("long.wav");
    std::vector<float> left(1000), right(1000);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<float>(static_cast<int>(i) - 500) / 512.0f;
        right[i] = -left[i] * 0.5f;
    }
    TMAudioFile file;
    ASSERT_EQ(file.openWrite(path.c_str(), 44100), TMAudioFile::kOk);
    ASSERT_EQ(file.writeWav(left.data(), right.data(), 1000), TMAudioFile::kOk);
    ASSERT_TRUE(file.close());
    ASSERT_EQ(file.openRead(path.c_str()), TMAudioFile::kOk);
    ASSERT_EQ(file.frames(), 1000);
    const Decoded d = readAll(file);
    for (std::size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(d.left[i], static_cast<float>(static_cast<int32_t>(left[i] * 32767.0f)) / 32768.0f) << i;
        ASSERT_EQ(d.right[i], static_cast<float>(static_cast<int32_t>(right[i] * 32767.0f)) / 32768.0f) << i;
    }
}

}  // namespace
}  // namespace kf
