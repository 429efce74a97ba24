#include "state/sample_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_files.h"

namespace kf {
namespace {

using test::makeAiff;
using test::makeWav;

std::vector<int16_t> channel(const int16_t* data, int32_t count) {
    return data ? std::vector<int16_t>(data, data + count) : std::vector<int16_t>{};
}

std::vector<int32_t> recordWords(TMSampleData& sample) {
    TMChunk chunk;
    const int32_t words = sample.recordWords();
    EXPECT_TRUE(chunk.allocate(words));
    sample.writeChunk(chunk);
    EXPECT_EQ(chunk.index(), words);
    std::vector<int32_t> out(static_cast<std::size_t>(words));
    chunk.setIndex(0);
    for (int32_t& w : out) w = chunk.readInt();
    return out;
}

// A record's head words followed by a path as the chunk stores strings.
std::vector<int32_t> withPath(std::vector<int32_t> words, const std::string& path) {
    words.push_back(static_cast<int32_t>(path.size()));
    words.resize(words.size() + (path.size() + 3) / 4, 0);
    std::memcpy(words.data() + words.size() - (path.size() + 3) / 4, path.data(), path.size());
    return words;
}

TMChunk wrapWords(const std::vector<int32_t>& words) {
    TMChunk chunk;
    chunk.wrap(words.data(), words.size() * 4);
    return chunk;
}

class SampleDataTest : public ::testing::Test {
  protected:
    std::string write(const std::string& name, const test::Bytes& bytes) {
        const std::string path = dir_.file(name);
        test::writeBytes(path, bytes);
        return path;
    }
    test::TempDir dir_;
    TMSampleData sample_;
};

TEST_F(SampleDataTest, MonoWavBecomesSixteenBitWithGuardSample) {
    const std::string path = write("three.wav", makeWav({}, {-16384, 16384, 0}));
    ASSERT_TRUE(sample_.loadFile(path));
    EXPECT_EQ(sample_.frames(), 3);
    EXPECT_EQ(sample_.framesFloat(), 3.0f);
    EXPECT_EQ(channel(sample_.left(), 4), (std::vector<int16_t>{-16383, 16383, 0, -16383}));
    EXPECT_EQ(sample_.right(), nullptr);
    EXPECT_EQ(sample_.endMarker(), 3);
    EXPECT_EQ(sample_.firstRise(), 1);
    EXPECT_EQ(sample_.sampleRate(), 44100.0f);
    EXPECT_EQ(sample_.path(), path);
    EXPECT_EQ(sample_.name(), "three");
}

TEST_F(SampleDataTest, StereoAiffKeepsBothChannelsAndItsRate) {
    // 24-bit full scale converts in exact arithmetic: 0x400000 / 2^23 * 32767 = 16383.5.
    const std::string path = write(
        "st.aif", makeAiff({.channels = 2, .bits = 24, .rate = 48000}, {0x400000, -0x400000, 8388607, 1}));
    ASSERT_TRUE(sample_.loadFile(path));
    EXPECT_EQ(sample_.frames(), 2);
    EXPECT_EQ(sample_.sampleRate(), 48000.0f);
    EXPECT_EQ(channel(sample_.left(), 3), (std::vector<int16_t>{16383, 32766, 16383}));
    EXPECT_EQ(channel(sample_.right(), 3), (std::vector<int16_t>{-16383, 0, -16383}));
}

TEST_F(SampleDataTest, RefusedFilesLeaveThePreviousSampleUntouched) {
    const std::string good = write("good.wav", makeWav({}, {5, -5, 5}));
    ASSERT_TRUE(sample_.loadFile(good));
    const int16_t* before = sample_.left();

    for (const std::string& bad : {write("a4.wav", makeWav({.align = 4}, {1, 2, 3, 4})),
                                   write("empty.wav", makeWav({}, {})), dir_.file("missing.wav")}) {
        EXPECT_FALSE(sample_.loadFile(bad)) << bad;
        EXPECT_EQ(sample_.left(), before);
        EXPECT_EQ(sample_.frames(), 3);
        EXPECT_EQ(sample_.path(), good);
    }
}

TEST_F(SampleDataTest, AssignCopiesWithGuardAndClearEmpties) {
    const int16_t l[3] = {-3, 4, 9};
    const int16_t r[3] = {7, 8, 9};
    EXPECT_FALSE(sample_.assignSample(l, nullptr, 0, 44100.0f));
    EXPECT_FALSE(sample_.assignSample(l, nullptr, 3, 0.0f));
    ASSERT_TRUE(sample_.assignSample(l, r, 3, 22050.0f));
    EXPECT_EQ(channel(sample_.left(), 4), (std::vector<int16_t>{-3, 4, 9, -3}));
    EXPECT_EQ(channel(sample_.right(), 4), (std::vector<int16_t>{7, 8, 9, 7}));
    EXPECT_EQ(sample_.sampleRate(), 22050.0f);
    EXPECT_EQ(sample_.firstRise(), 1);
    EXPECT_EQ(sample_.path(), "empty");
    sample_.clear();
    EXPECT_EQ(sample_.left(), nullptr);
    EXPECT_EQ(sample_.right(), nullptr);
    EXPECT_EQ(sample_.frames(), 0);
    EXPECT_EQ(sample_.name(), "empty");
}

TEST_F(SampleDataTest, ExportWritesStereoAtTheSampleRate) {
    // Mono: both channels equal, at the file's own rate.
    ASSERT_TRUE(sample_.loadFile(write("voice.wav", makeWav({.rate = 32000}, {-16384, 16384, 0}))));
    test::TempDir out;
    ASSERT_TRUE(sample_.exportWav(out.path().string()));
    TMAudioFile file;
    ASSERT_EQ(file.openRead(out.file("voice.wav").c_str()), TMAudioFile::kOk);
    EXPECT_EQ(file.channels(), 2);
    EXPECT_EQ(file.sampleRate(), 32000);
    ASSERT_EQ(file.frames(), 3);
    std::vector<float> l(3), r(3);
    ASSERT_EQ(file.readFrames(l.data(), r.data()), TMAudioFile::kOk);
    EXPECT_EQ(l, r);
    // -16383 / 32768 * 32767 truncates to -16382.
    EXPECT_EQ(l[0], -16382.0f / 32768.0f);
    file.close();

    EXPECT_FALSE(sample_.exportWav((out.path() / "no" / "such").string()));
    sample_.clear();
    EXPECT_FALSE(sample_.exportWav(out.path().string()));
}

TEST_F(SampleDataTest, SnapMovesMarkersToRisingZeroCrossings) {
    //                      0   1   2   3   4  5   6  7
    const int16_t data[8] = {5, -1, 3, -2, -2, 4, -1, 1};
    ASSERT_TRUE(sample_.assignSample(data, nullptr, 8, 44100.0f));
    sample_.setStartMarker(0);
    // Start, from, snapped, then both markers. The end marker (8) has no crossing after it; from
    // 6 it finds 7. A start at or beyond the end, or an end at or before the start, is refused.
    const struct {
        bool start;
        int32_t from;
        bool snapped;
        int32_t startMarker, endMarker;
    } steps[] = {{true, 0, true, 2, 8},  {true, 3, true, 5, 8},  {false, -1, false, 5, 8},
                 {false, 6, true, 5, 7}, {true, 6, false, 5, 7}, {false, 3, false, 5, 7}};
    for (const auto& k : steps) {
        EXPECT_EQ(sample_.snapLoopPoint(k.start, k.from), k.snapped) << k.from;
        EXPECT_EQ(sample_.startMarker(), k.startMarker) << k.from;
        EXPECT_EQ(sample_.endMarker(), k.endMarker) << k.from;
    }
    sample_.clear();
    EXPECT_FALSE(sample_.snapLoopPoint(true, 0));
}

TEST_F(SampleDataTest, OverviewHoldsTheExtremesOfEachSlice) {
    const int16_t left[10] = {0, 5, -3, 7, 1, -8, 2, 2, 9, -1};
    const int16_t right[10] = {1, 1, 1, 1, 1, -1, -1, -1, -1, -1};
    ASSERT_TRUE(sample_.assignSample(left, right, 10, 44100.0f));
    using E = TMSampleData::Extent;
    EXPECT_EQ(sample_.overview(0, 0, 10, 2), (std::vector<E>{{-3, 7}, {-8, 9}}));
    EXPECT_EQ(sample_.overview(1, 2, 6, 3), (std::vector<E>{{1, 1}, {-1, 1}, {-1, -1}}));
    // More columns than frames repeat frames; nothing outside the sample is read.
    EXPECT_EQ(sample_.overview(0, 8, 2, 4), (std::vector<E>{{9, 9}, {9, 9}, {-1, -1}, {-1, -1}}));
    EXPECT_TRUE(sample_.overview(0, 5, 6, 3).empty());
    EXPECT_TRUE(sample_.overview(0, -1, 4, 3).empty());
    ASSERT_TRUE(sample_.assignSample(left, nullptr, 10, 44100.0f));
    EXPECT_EQ(sample_.overview(1, 0, 10, 1), (std::vector<E>{{-8, 9}}));
}

TEST_F(SampleDataTest, RecordRoundTripLoadsTheFileAgainOrSkipsIt) {
    const std::string path = write("loop.wav", makeWav({}, {-2, 2, -2, 2, 0}));
    ASSERT_TRUE(sample_.loadFile(path));
    sample_.setStartMarker(1);
    sample_.setEndMarker(4);
    sample_.setLoop(true);
    const std::vector<int32_t> words = recordWords(sample_);
    ASSERT_GE(words.size(), 8u);
    EXPECT_EQ(words[2], 5);
    EXPECT_EQ(words[7], static_cast<int32_t>(path.size()));

    TMSampleData restored;
    TMChunk chunk = wrapWords(words);
    EXPECT_NE(restored.readChunk(chunk, false), 0);
    EXPECT_EQ(chunk.remaining(), 0);
    EXPECT_EQ(restored.frames(), 5);
    EXPECT_EQ(restored.startMarker(), 1);
    EXPECT_EQ(restored.endMarker(), 4);
    EXPECT_TRUE(restored.loop());
    EXPECT_EQ(recordWords(restored), words);
    // A file chosen anew plays whole.
    ASSERT_TRUE(restored.loadFile(path));
    EXPECT_EQ(restored.startMarker(), 0);
    EXPECT_EQ(restored.endMarker(), 5);

    // Skipped, the record is consumed and nothing loads.
    std::vector<int32_t> followed = words;
    followed.push_back(-1);
    TMSampleData skipped;
    TMChunk next = wrapWords(followed);
    EXPECT_NE(skipped.readChunk(next, true), 0);
    EXPECT_EQ(next.readInt(), -1);
    EXPECT_EQ(skipped.frames(), 0);
}

TEST_F(SampleDataTest, VersionZeroRecordsHaveNoMagicAndMalformedOnesChangeNothing) {
    const std::string path = write("v0.wav", makeWav({}, {1, 2, 3, 4}));
    // Frames, embedded, start, end, loop; then the next record's first word.
    std::vector<int32_t> record = withPath({99, 0, 2, 50, 0}, path);
    record.push_back(-1);
    TMChunk words = wrapWords(record);
    EXPECT_NE(sample_.readChunk(words, false), 0);
    EXPECT_EQ(words.readInt(), -1);
    EXPECT_EQ(sample_.frames(), 4);
    EXPECT_EQ(sample_.startMarker(), 2);
    EXPECT_EQ(sample_.endMarker(), 4);  // a stored end past the file's means all of it
    EXPECT_FALSE(sample_.loop());

    // Malformed records change nothing.
    const int32_t magic = static_cast<int32_t>(TMSampleData::kRecordMagic);
    const std::vector<std::vector<int32_t>> bad = {
        {magic, 1, 4, 0, 0},                  // cut inside the head
        {magic, 1, 4, 0, 0, 4, 0, 40, 0x41},  // path longer than what remains
        {magic, 1, 4, 7, 0, 4, 0, 1, 0x41},   // embedded data
    };
    for (const auto& bytes : bad) {
        TMChunk chunk = wrapWords(bytes);
        EXPECT_EQ(sample_.readChunk(chunk, false), 0);
        EXPECT_EQ(sample_.frames(), 4);
        EXPECT_EQ(sample_.path(), path);
    }
}

TEST_F(SampleDataTest, AMissingFileKeepsItsReferenceForTheNextRecord) {
    const std::string missing = dir_.file("gone/away.wav");
    const std::vector<int32_t> stored =
        withPath({static_cast<int32_t>(TMSampleData::kRecordMagic), 1, 12345, 0, 10, 12000, 1}, missing);
    ASSERT_TRUE(sample_.loadFile(write("old.wav", makeWav({}, {1, 2}))));
    TMChunk chunk = wrapWords(stored);
    EXPECT_EQ(sample_.readChunk(chunk, false), 0);
    EXPECT_EQ(chunk.remaining(), 0);  // the record was consumed all the same
    EXPECT_EQ(sample_.left(), nullptr);
    EXPECT_EQ(sample_.frames(), 0);
    EXPECT_TRUE(sample_.fileMissing());
    EXPECT_EQ(sample_.path(), missing);
    EXPECT_EQ(recordWords(sample_), stored);

    // Cleared, the record is seven words; markers and loop are still stored.
    sample_.clear();
    EXPECT_FALSE(sample_.fileMissing());
    sample_.setStartMarker(3);
    sample_.setEndMarker(9);
    EXPECT_EQ(recordWords(sample_),
              (std::vector<int32_t>{static_cast<int32_t>(0xE6D0324A), 1, 0, 0, 3, 9, 1}));
}

}  // namespace
}  // namespace kf
