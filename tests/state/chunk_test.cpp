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

// Words are little-endian and floats keep their bits; strings have a length word and zero
// padding but no terminator: null and "" are one word each, 4 bytes take 2 words, 5 take 3.
TEST(ChunkEncoding, WordsFloatsAndStrings) {
    TMChunk c = writeCounted([](TMChunk& k) {
        k.writeInt(0x01020304);
        k.writeFloat(-1.5f);
        k.writeString(nullptr);
        k.writeString("");
        k.writeString("Host");
        k.writeString("abcde");
    });
    EXPECT_EQ(bytesOf(c), (std::vector<uint8_t>{4, 3, 2, 1, 0,   0,   0xC0, 0xBF, 0,   0,   0,   0,
                                                0, 0, 0, 0, 4,   0,   0,    0,    'H', 'o', 's', 't',
                                                5, 0, 0, 0, 'a', 'b', 'c',  'd',  'e', 0,   0,   0}));
    c.setIndex(0);
    EXPECT_EQ(c.readInt(), 0x01020304);
    EXPECT_EQ(c.readFloat(), -1.5f);
    EXPECT_EQ(c.readString(), nullptr);
    EXPECT_EQ(c.readString(), nullptr);
    EXPECT_STREQ(c.readString().get(), "Host");
    EXPECT_STREQ(c.readString().get(), "abcde");
    EXPECT_EQ(c.remaining(), 0);
    EXPECT_FALSE(c.failed());
    // Padding is zero even where the buffer held other bytes before.
    c.setIndex(4);
    c.writeString("a");
    const std::vector<uint8_t> again = bytesOf(c);
    EXPECT_EQ(std::vector<uint8_t>(again.begin() + 20, again.begin() + 24),
              (std::vector<uint8_t>{'a', 0, 0, 0}));
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
