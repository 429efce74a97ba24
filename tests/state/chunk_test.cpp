#include "state/chunk.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

namespace kf {
namespace {

std::vector<uint8_t> bytesOf(const TMChunk& c) {
    const auto* p = static_cast<const uint8_t*>(c.data());
    return std::vector<uint8_t>(p, p + static_cast<std::size_t>(c.wordCount()) * 4);
}

// Writes the same content twice, counting first, as the state writer does.
template <typename Writer>
TMChunk writeCounted(Writer write) {
    TMChunk chunk;
    write(chunk);
    const int32_t words = chunk.index();
    EXPECT_TRUE(chunk.allocate(words));
    write(chunk);
    EXPECT_EQ(chunk.index(), words);
    EXPECT_FALSE(chunk.failed());
    return chunk;
}

TEST(ChunkEncoding, WordsAreLittleEndianAndFloatsKeepTheirBits) {
    TMChunk c = writeCounted([](TMChunk& k) {
        k.writeInt(0x01020304);
        k.writeInt(-2);
        k.writeFloat(-1.5f);
    });
    EXPECT_EQ(bytesOf(c), (std::vector<uint8_t>{4, 3, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0xC0, 0xBF}));
    c.setIndex(0);
    EXPECT_EQ(c.readInt(), 0x01020304);
    EXPECT_EQ(c.readInt(), -2);
    EXPECT_EQ(c.readFloat(), -1.5f);
}

TEST(ChunkEncoding, StringsHaveALengthWordAndZeroPaddingButNoTerminator) {
    TMChunk c = writeCounted([](TMChunk& k) {
        k.writeString(nullptr);
        k.writeString("");
        k.writeString("Host");
        k.writeString("abcde");
    });
    // null and "" are one word each; 4 bytes take 2 words; 5 bytes take 3 with 3 zeros.
    ASSERT_EQ(c.wordCount(), 1 + 1 + 2 + 3);
    EXPECT_EQ(bytesOf(c), (std::vector<uint8_t>{0,   0,   0, 0, 0, 0, 0,   0,   4,   0,   0,   0, 'H', 'o',
                                                's', 't', 5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 0, 0,   0}));
    c.setIndex(0);
    EXPECT_EQ(c.readString(), nullptr);
    EXPECT_EQ(c.readString(), nullptr);
    EXPECT_STREQ(c.readString().get(), "Host");
    EXPECT_STREQ(c.readString().get(), "abcde");
    EXPECT_EQ(c.remaining(), 0);
    EXPECT_FALSE(c.failed());
    // Padding is zero even where the buffer held other bytes before.
    c.setIndex(2);
    c.writeString("a");
    const std::vector<uint8_t> again = bytesOf(c);
    EXPECT_EQ(std::vector<uint8_t>(again.begin() + 12, again.begin() + 16),
              (std::vector<uint8_t>{'a', 0, 0, 0}));
}

TEST(ChunkEncoding, HeaderCountPassAndWritePassAgreeOnTheTotal) {
    const auto write = [](TMChunk& k) {
        k.writeHeader();
        k.writeInt(5);
        k.writeString("default");
    };
    TMChunk c;
    c.setTempo(98.5f);
    c.setSampleRate(48000.0f);
    write(c);
    EXPECT_EQ(c.index(), 5 + 1 + 1 + 2);
    ASSERT_TRUE(c.allocate(c.index()));
    c.setIndex(c.wordCount());  // the write pass starts where counting ended
    write(c);
    EXPECT_EQ(c.index(), 9);
    EXPECT_FALSE(c.failed());
    TMChunk reader;
    reader.wrap(c.data(), static_cast<std::size_t>(c.wordCount()) * 4);
    ASSERT_TRUE(reader.readHeader());
    EXPECT_EQ(reader.total(), 9);
    EXPECT_EQ(reader.version(), TMChunk::kWriterVersion);
    EXPECT_EQ(reader.tempo(), 98.5f);
    EXPECT_EQ(reader.sampleRate(), 48000.0f);
    EXPECT_EQ(reader.magic(), 26101977);
}

TEST(ChunkEncoding, DataMovesTheCursorByWholeWordsOnly) {
    TMChunk c;
    ASSERT_TRUE(c.allocate(3));
    const uint8_t six[6] = {1, 2, 3, 4, 5, 6};
    c.writeData(six, 6);
    EXPECT_EQ(c.index(), 1);
    c.writeInt(0x0A0B0C0D);  // overwrites the two tail bytes
    EXPECT_EQ(bytesOf(c), (std::vector<uint8_t>{1, 2, 3, 4, 0x0D, 0x0C, 0x0B, 0x0A, 0, 0, 0, 0}));
    c.setIndex(0);
    uint8_t out[6] = {};
    EXPECT_TRUE(c.readData(out, 6));
    EXPECT_EQ(c.index(), 1);
    EXPECT_EQ(out[4], 0x0D);
    // Reads that do not fit leave the destination alone.
    std::memset(out, 0x55, sizeof out);
    EXPECT_FALSE(c.readData(out, 9));
    EXPECT_TRUE(c.failed());
    EXPECT_EQ(out[0], 0x55);
    c.setIndex(0);
    EXPECT_FALSE(c.readData(out, -1));
}

TEST(ChunkBounds, ReadsPastTheEndReturnZeroAndTheFailureSticks) {
    // Seven bytes: one whole word and a partial one that must stay unreadable.
    const uint8_t bytes[11] = {7, 0, 0, 0, 8, 0, 0, 0, 9, 9, 9};
    TMChunk c;
    c.wrap(bytes, sizeof bytes);
    EXPECT_EQ(c.wordCount(), 2);
    c.unreadWord();  // before the start
    EXPECT_TRUE(c.failed());
    c.clearFailure();
    EXPECT_EQ(c.readInt(), 7);
    EXPECT_EQ(c.readFloat(), std::bit_cast<float>(8));
    EXPECT_FALSE(c.failed());
    EXPECT_EQ(c.readInt(), 0);
    EXPECT_TRUE(c.failed());
    c.unreadWord();
    EXPECT_EQ(c.readInt(), 8);  // still readable, but the flag stays until cleared
    EXPECT_TRUE(c.failed());
    c.clearFailure();
    EXPECT_FALSE(c.setIndex(3));
    EXPECT_TRUE(c.failed());
    c.clearFailure();
    c.setIndex(0);
    EXPECT_EQ(c.readQuad().words[0], 0u);  // four words wanted, two present: all zero
    EXPECT_TRUE(c.failed());
    EXPECT_FALSE(c.readHeader());
    EXPECT_EQ(c.magic(), 0);
}
TEST(ChunkBounds, StringLengthsThatDoNotFitAreRefused) {
    // A length of 9 needs 3 words, only 2 follow; a negative length; a length that would
    // overflow when rounded up to words.
    for (const auto& words : {std::vector<int32_t>{9, 0x61616161, 0x61616161}, std::vector<int32_t>{-4, 0},
                              std::vector<int32_t>{0x7FFFFFFF, 0}}) {
        TMChunk c;
        c.wrap(words.data(), words.size() * 4);
        EXPECT_EQ(c.readString(), nullptr);
        EXPECT_TRUE(c.failed());
        EXPECT_EQ(c.remaining(), 0);
    }
    // Exactly fitting: 8 bytes in 2 words.
    const std::vector<int32_t> fits{8, 0x64636261, 0x68676665};
    TMChunk c;
    c.wrap(fits.data(), fits.size() * 4);
    EXPECT_STREQ(c.readString().get(), "abcdefgh");
    EXPECT_FALSE(c.failed());
}

// Writes past the end fail but keep counting; a wrapped (host's) buffer is never written nor
// freed by the chunk (ASan would report a free).
TEST(ChunkBounds, WritesBeyondTheBufferFailAndWrappedBuffersStayTheHosts) {
    TMChunk c;
    ASSERT_TRUE(c.allocate(1));
    c.writeInt(1);
    c.writeInt(2);
    c.writeString("abc");
    EXPECT_TRUE(c.failed());
    EXPECT_EQ(c.index(), 4);
    EXPECT_EQ(bytesOf(c), (std::vector<uint8_t>{1, 0, 0, 0}));

    std::vector<int32_t> host{1, 2, 3};
    {
        TMChunk w;
        w.wrap(host.data(), host.size() * 4);
        EXPECT_FALSE(w.ownsBuffer());
        w.writeInt(99);
        EXPECT_TRUE(w.failed());
    }
    EXPECT_EQ(host, (std::vector<int32_t>{1, 2, 3}));
}

}  // namespace
}  // namespace kf
