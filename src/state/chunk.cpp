#include "state/chunk.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace kf {

TMChunk::~TMChunk() {
    reset();
}

TMChunk::TMChunk(TMChunk&& other) noexcept {
    *this = std::move(other);
}

TMChunk& TMChunk::operator=(TMChunk&& other) noexcept {
    if (this != &other) {
        reset();
        bytes_ = std::exchange(other.bytes_, nullptr);
        wordCount_ = std::exchange(other.wordCount_, 0);
        owned_ = std::exchange(other.owned_, false);
        magic_ = other.magic_;
        version_ = other.version_;
        tempo_ = other.tempo_;
        sampleRate_ = other.sampleRate_;
        index_ = other.index_;
        total_ = other.total_;
        countOnly_ = other.countOnly_;
        failed_ = other.failed_;
    }
    return *this;
}

bool TMChunk::allocate(int32_t words) {
    reset();
    index_ = 0;
    failed_ = false;
    countOnly_ = false;
    if (words < 0) return false;
    // Zero words still gets a real (one-word) allocation so data() is never null after a
    // successful allocate.
    const std::size_t bytes = static_cast<std::size_t>(words) * 4;
    auto* buffer = new (std::nothrow) unsigned char[bytes == 0 ? 4 : bytes];
    if (!buffer) return false;
    std::memset(buffer, 0, bytes == 0 ? 4 : bytes);
    bytes_ = buffer;
    wordCount_ = words;
    owned_ = true;
    return true;
}

void TMChunk::wrap(const void* data, std::size_t byteSize) {
    reset();
    constexpr std::size_t kMaxWords = static_cast<std::size_t>(std::numeric_limits<int32_t>::max());
    // The chunk only reads through this pointer: writes check owned_ first.
    bytes_ = static_cast<unsigned char*>(const_cast<void*>(data));
    wordCount_ = data ? static_cast<int32_t>(std::min(byteSize / 4, kMaxWords)) : 0;
    owned_ = false;
    index_ = 0;
    failed_ = false;
    countOnly_ = false;
}

void TMChunk::reset() {
    if (owned_) delete[] bytes_;
    bytes_ = nullptr;
    wordCount_ = 0;
    owned_ = false;
}

bool TMChunk::setIndex(int32_t index) {
    if (index < 0 || index > wordCount_) {
        fail();
        return false;
    }
    index_ = index;
    return true;
}

bool TMChunk::fits(int64_t words) const {
    return words >= 0 && index_ >= 0 && static_cast<int64_t>(index_) + words <= wordCount_;
}

void TMChunk::fail() {
    failed_ = true;
    // Everything after a failed read is unreadable as well, so a reader that forgets to
    // check after each call still sees only zeros from here on.
    index_ = wordCount_;
}

uint32_t TMChunk::wordAt(int32_t i) const {
    const unsigned char* p = bytes_ + static_cast<std::size_t>(i) * 4;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void TMChunk::storeWord(uint32_t word) {
    if (countOnly_) {
        ++index_;
        return;
    }
    if (!owned_ || !fits(1)) {
        // Keep counting so the caller can still see how much it tried to write.
        failed_ = true;
        ++index_;
        return;
    }
    unsigned char* p = bytes_ + static_cast<std::size_t>(index_) * 4;
    p[0] = static_cast<unsigned char>(word);
    p[1] = static_cast<unsigned char>(word >> 8);
    p[2] = static_cast<unsigned char>(word >> 16);
    p[3] = static_cast<unsigned char>(word >> 24);
    ++index_;
}

void TMChunk::writeHeader() {
    if (countOnly_) {
        index_ += kHeaderWords;
        return;
    }
    total_ = index_;
    index_ = 0;
    writeInt(total_);
    writeInt(kWriterVersion);
    writeFloat(tempo_);
    writeFloat(sampleRate_);
    writeInt(kStateMagic);
}

bool TMChunk::readHeader() {
    index_ = 0;
    if (!fits(kHeaderWords)) {
        fail();
        return false;
    }
    total_ = readInt();
    version_ = readInt();
    tempo_ = readFloat();
    sampleRate_ = readFloat();
    magic_ = readInt();
    return true;
}

void TMChunk::writeInt(int32_t value) {
    storeWord(static_cast<uint32_t>(value));
}

void TMChunk::writeFloat(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    storeWord(bits);
}

int32_t TMChunk::readInt() {
    if (!fits(1)) {
        fail();
        return 0;
    }
    return static_cast<int32_t>(wordAt(index_++));
}

float TMChunk::readFloat() {
    const uint32_t bits = static_cast<uint32_t>(readInt());
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void TMChunk::unreadWord() {
    if (index_ <= 0) {
        failed_ = true;
        return;
    }
    --index_;
}

TMQuad TMChunk::readQuad() {
    TMQuad quad;
    if (!fits(4)) {
        fail();
        return quad;
    }
    for (uint32_t& w : quad.words) w = wordAt(index_++);
    return quad;
}

void TMChunk::writeString(const char* text) {
    const std::size_t length = text ? std::strlen(text) : 0;
    if (length > static_cast<std::size_t>(std::numeric_limits<int32_t>::max() - 3)) {
        failed_ = true;
        return;
    }
    const auto bytes = static_cast<int32_t>(length);
    writeInt(bytes);
    if (bytes == 0) return;
    const int32_t words = (bytes + 3) / 4;
    if (countOnly_) {
        index_ += words;
        return;
    }
    if (!owned_ || !fits(words)) {
        failed_ = true;
        index_ += words;
        return;
    }
    unsigned char* p = bytes_ + static_cast<std::size_t>(index_) * 4;
    std::memcpy(p, text, length);
    // The padding must be zero even when the buffer is being written a second time.
    std::memset(p + length, 0, static_cast<std::size_t>(words) * 4 - length);
    index_ += words;
}

std::unique_ptr<char[]> TMChunk::readString() {
    if (!fits(1)) {
        fail();
        return nullptr;
    }
    const auto length = static_cast<int32_t>(wordAt(index_++));
    if (length == 0) return nullptr;
    if (length < 0) {
        fail();
        return nullptr;
    }
    const int32_t words = static_cast<int32_t>((static_cast<int64_t>(length) + 3) / 4);
    if (!fits(words)) {
        fail();
        return nullptr;
    }
    std::unique_ptr<char[]> text(new (std::nothrow) char[static_cast<std::size_t>(length) + 1]);
    if (!text) {
        fail();
        return nullptr;
    }
    std::memcpy(text.get(), bytes_ + static_cast<std::size_t>(index_) * 4, static_cast<std::size_t>(length));
    text[static_cast<std::size_t>(length)] = '\0';
    index_ += words;
    return text;
}

void TMChunk::writeData(const void* source, int32_t bytes) {
    if (bytes < 0 || (bytes > 0 && !source)) {
        failed_ = true;
        return;
    }
    const int32_t words = bytes / 4;
    if (countOnly_) {
        index_ += words;
        return;
    }
    const int64_t end = static_cast<int64_t>(index_) * 4 + bytes;
    if (!owned_ || index_ < 0 || end > static_cast<int64_t>(wordCount_) * 4) {
        failed_ = true;
        index_ += words;
        return;
    }
    if (bytes > 0)
        std::memcpy(bytes_ + static_cast<std::size_t>(index_) * 4, source, static_cast<std::size_t>(bytes));
    index_ += words;
}

bool TMChunk::readData(void* destination, int32_t bytes) {
    const int64_t end = static_cast<int64_t>(index_) * 4 + bytes;
    if (bytes < 0 || index_ < 0 || end > static_cast<int64_t>(wordCount_) * 4 ||
        (bytes > 0 && !destination)) {
        fail();
        return false;
    }
    if (bytes > 0)
        std::memcpy(destination, bytes_ + static_cast<std::size_t>(index_) * 4,
                    static_cast<std::size_t>(bytes));
    index_ += bytes / 4;
    return true;
}

int32_t TMChunkableClass::recordWords() {
    TMChunk counter;  // count-only after construction
    writeChunk(counter);
    return counter.index();
}

}  // namespace kf
