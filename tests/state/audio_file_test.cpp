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
        const test::Bytes image =
            c.aiff ? makeAiff({.channels = c.channels, .bits = c.bits, .rate = c.rate}, samples)
                   : makeWav({.channels = c.channels, .bits = c.bits, .rate = c.rate}, samples);
        ASSERT_EQ(openBytes(file, image, storage), TMAudioFile::kOk);
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
        std::vector<int32_t> ramp;
        for (int32_t i = 0; i < 40; ++i) ramp.push_back(i * 1500 - 30000);
        return makeWav({.fmtSize = 18, .beforeData = before}, ramp);  // extra fmt bytes are passed over too
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
    test::Bytes notWave = makeWav({}, {1, 2}), halfFrame = makeWav({}, {7, 7, 7}), cut = makeWav({}, {1});
    notWave[8] = 'X';
    halfFrame.push_back(0x7F);  // a trailing half frame is not a frame
    cut.resize(30);             // inside the header
    test::Bytes farOffset = makeAiff({}, {5});
    farOffset[farOffset.size() - 10] = 0x7F;  // the sound data offset points far past the end
    const std::vector<int32_t> six(6, 0), ten(10, 7);

    const int32_t kUnsupported = TMAudioFile::kUnsupported, kFailed = TMAudioFile::kFailed;
    const std::vector<std::tuple<const char*, test::Bytes, int32_t, int32_t>> cases = {
        {"mono with stereo alignment", makeWav({.align = 4}, six), kUnsupported, 0},
        {"stereo with mono alignment", makeWav({.channels = 2, .align = 2}, six), kUnsupported, 0},
        {"8 bits", makeWav({.bits = 8}, {1, 2}), kUnsupported, 0},
        {"32 bits", makeWav({.bits = 32}, {1, 2}), kUnsupported, 0},
        {"float", makeWav({.bits = 32, .formatTag = 3}, {1, 2}), kUnsupported, 0},
        {"three channels", makeWav({.channels = 3}, six), kUnsupported, 0},
        {"rate 0", makeWav({.rate = 0}, {1, 2}), kUnsupported, 0},
        {"AIFF at an unknown rate", makeAiff({.rate = 32000}, {1, 2}), kUnsupported, 0},
        {"AIFF of 8 bits", makeAiff({.bits = 8}, {1, 2}), kUnsupported, 0},
        {"RIFF but not WAVE", notWave, kUnsupported, 0},
        {"Ogg", {'O', 'g', 'g', 'S', 0, 0}, kUnsupported, 0},
        {"no sample data", makeWav({}, {}), kFailed, 0},
        {"AIFF offset past the end", farOffset, kFailed, 0},
        {"cut inside the header", cut, kFailed, 0},
        {"4 GB data claim", makeWav({.dataSizeClaim = 0xFFFFFFF0}, ten), TMAudioFile::kOk,
         10},  // never patched
        {"4 billion AIFF frames", makeAiff({.channels = 2, .frameClaim = 4000000000}, ten), TMAudioFile::kOk,
         5},
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
    ASSERT_EQ(mkfifo(dir.file("pipe.wav").c_str(), 0600), 0);  // must not hang either
    for (const std::string& path : {dir.path().string(), std::string("/dev/zero"), std::string("x"),
                                    dir.file("missing.wav"), dir.file("pipe.wav")})
        EXPECT_EQ(file.openRead(path.c_str()), TMAudioFile::kFailed) << path;
}

// Big-endian 16-bit at its extremes, behind offset bytes that must be skipped, and
// big-endian 24-bit stereo split into its channels.
TEST(AudioFileDecoding, AiffScalesAndSplitsChannels) {
    std::vector<uint8_t> storage;
    TMAudioFile file;
    ASSERT_EQ(openBytes(file, makeAiff({.offset = 6}, {0x7FFF, -32768}), storage), TMAudioFile::kOk);
    Decoded d = readAll(file);
    EXPECT_EQ(d.left, (std::vector<float>{32767.0f / 32768.0f, -1.0f}));
    EXPECT_EQ(d.right, d.left);
    const test::Bytes stereo24 =
        makeAiff({.channels = 2, .bits = 24, .offset = 6}, {-2, 0x123456, 8388607, -8388608});
    ASSERT_EQ(openBytes(file, stereo24, storage), TMAudioFile::kOk);
    d = readAll(file);
    EXPECT_EQ(d.left, (std::vector<float>{-2.0f / 8388608.0f, 8388607.0f / 8388608.0f}));
    EXPECT_EQ(d.right, (std::vector<float>{0x123456 / 8388608.0f, -1.0f}));
}

TEST(AudioFileDecoding, BlocksJoinSeamlesslyAndReportProgress) {
    // 500 stereo 24-bit frames span four 972-byte blocks (the last one short).
    std::vector<int32_t> samples;
    for (int32_t i = 0; i < 1000; ++i) samples.push_back((i * 7919) % 8388607 - 4000000);
    std::vector<uint8_t> storage;
    TMAudioFile file;
    std::vector<float> fractions;
    file.setProgressCallback([](void* ctx, float f) { static_cast<std::vector<float>*>(ctx)->push_back(f); },
                             &fractions);
    ASSERT_EQ(openBytes(file, makeWav({.channels = 2, .bits = 24}, samples), storage), TMAudioFile::kOk);
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

// 16-bit stereo at the given rate, over four 1024-byte blocks and one last frame: x * 32767 truncated, so 0.5
// gives 16383 and -1 gives -32767; out of range and NaN clamp, never wrap.
TEST(AudioFileWriting, SixteenBitStereoAtTheGivenRate) {
    test::TempDir dir;
    const std::string path = dir.file("out.wav");
    std::vector<float> left = {0.5f, -1.0f, 2.0f}, right = {-0.5f, std::nanf(""), -3.0f};
    std::vector<int32_t> expected = {16383, -16383, -32767, 0, 32767, -32768};
    for (int i = 0; i < 1022; ++i) {
        left.push_back(static_cast<float>(i - 511) / 512.0f);
        right.push_back(-left.back() * 0.5f);
        expected.push_back(static_cast<int32_t>(left.back() * 32767.0f));
        expected.push_back(static_cast<int32_t>(right.back() * 32767.0f));
    }
    TMAudioFile file;
    EXPECT_EQ(file.writeWav(left.data(), right.data(), 3), TMAudioFile::kWrongMode);
    ASSERT_EQ(file.openWrite(path.c_str(), 48000), TMAudioFile::kOk);
    ASSERT_EQ(file.writeWav(left.data(), right.data(), 1025), TMAudioFile::kOk);
    ASSERT_TRUE(file.close());
    EXPECT_EQ(test::readBytes(path), makeWav({.channels = 2, .rate = 48000}, expected));
}

}  // namespace
}  // namespace kf
