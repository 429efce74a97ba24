// The word container in which the whole persistent state (host chunks, preset files) is
// written: a flat array of little-endian 32-bit words with a cursor.
//
// Writing is done twice: once in count-only mode, where nothing is stored and only the
// cursor moves (that measures the size), then into a buffer of exactly that size.
//
// Reading outside bytes must never trust them: every read is checked against the word
// count the container was given. A read that does not fit returns 0 (or null), moves the
// cursor to the end and sets a sticky failure flag, so a reader can parse a whole record,
// check failed() once and only then apply what it read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kf {

// Any 16-byte plain record; the state chunk itself never uses one.
struct TMQuad {
    uint32_t words[4] = {0, 0, 0, 0};
};

class TMChunk {
  public:
    // Header constants of the state chunk (words 1 and 4).
    static constexpr int32_t kStateMagic = 26101977;  // 0x018E48D9
    static constexpr int32_t kWriterVersion = 3;
    static constexpr int32_t kHeaderWords = 5;

    TMChunk() = default;
    ~TMChunk();
    TMChunk(const TMChunk&) = delete;
    TMChunk& operator=(const TMChunk&) = delete;
    TMChunk(TMChunk&& other) noexcept;
    TMChunk& operator=(TMChunk&& other) noexcept;

    // --- buffer ---------------------------------------------------------------------------
    // Replaces the buffer by an owned, zero-filled one of `words` words, leaves count-only
    // mode and sets the cursor to 0. False (and an empty chunk) if memory runs out or
    // words is negative.
    bool allocate(int32_t words);
    // Reads `byteSize` bytes that belong to someone else (a host's chunk). The chunk never
    // frees or writes them; a trailing partial word is not readable. Cursor to 0.
    void wrap(const void* data, std::size_t byteSize);
    // Drops the buffer (freeing it when owned); word count 0.
    void reset();

    // Raw bytes of the buffer (4 × wordCount() bytes), null when there is none.
    const void* data() const { return bytes_; }
    // Number of readable/writable words in the buffer.
    int32_t wordCount() const { return wordCount_; }
    bool ownsBuffer() const { return owned_; }

    // --- cursor and mode ------------------------------------------------------------------
    int32_t index() const { return index_; }
    // Moves the cursor; positions outside 0..wordCount() fail.
    bool setIndex(int32_t index);
    // Words left between the cursor and the end of the buffer.
    int32_t remaining() const { return index_ < wordCount_ ? wordCount_ - index_ : 0; }
    bool countOnly() const { return countOnly_; }
    void setCountOnly(bool on) { countOnly_ = on; }

    // Sticky: set by any access that did not fit, cleared only by clearFailure(), wrap()
    // and allocate().
    bool failed() const { return failed_; }
    void clearFailure() { failed_ = false; }

    // --- header fields ----------------------------------------------------------------------
    int32_t magic() const { return magic_; }
    int32_t version() const { return version_; }
    int32_t total() const { return total_; }
    float tempo() const { return tempo_; }            // beats per minute
    float sampleRate() const { return sampleRate_; }  // Hz
    void setTempo(float bpm) { tempo_ = bpm; }
    void setSampleRate(float hz) { sampleRate_ = hz; }

    // Writes the five header words: total, writer version, tempo, sample rate, magic. In
    // count-only mode the cursor simply moves past them. In a write pass the cursor must
    // stand at the end of the counted content: that position is the total, and the
    // cursor is moved to 0 first, so the header lands at the front.
    void writeHeader();
    // Reads the five header words from the start into the fields above; false if the
    // buffer is shorter than the header.
    bool readHeader();

    // --- words ----------------------------------------------------------------------------
    void writeInt(int32_t value);
    void writeFloat(float value);  // stored bit for bit
    int32_t readInt();
    void readIntTo(int32_t& out) { out = readInt(); }
    float readFloat();
    void readFloatTo(float& out) { out = readFloat(); }
    void unreadWord();
    TMQuad readQuad();
    void readQuadTo(TMQuad& out) { out = readQuad(); }

    // Length word (bytes, no terminator), then the bytes padded with zeros to a whole word.
    // Null and "" are both the single word 0.
    void writeString(const char* text);
    // Counterpart of writeString: a new zero-terminated copy, or null for the length 0.
    // A negative length or one that runs past the end returns null and fails.
    std::unique_ptr<char[]> readString();

    // Raw bytes without a length word. The cursor moves by bytes / 4 (truncated), so a
    // tail of 1 to 3 bytes is overwritten by the next write.
    void writeData(const void* source, int32_t bytes);
    // Copies bytes out; false (and the destination untouched) if they run past the end.
    bool readData(void* destination, int32_t bytes);

  private:
    bool fits(int64_t words) const;
    void fail();
    uint32_t wordAt(int32_t i) const;
    void storeWord(uint32_t word);

    unsigned char* bytes_ = nullptr;
    int32_t wordCount_ = 0;
    bool owned_ = false;

    int32_t magic_ = 0;
    int32_t version_ = 0;
    float tempo_ = 120.0f;
    float sampleRate_ = 44100.0f;
    int32_t index_ = 0;
    int32_t total_ = 0;
    bool countOnly_ = true;
    bool failed_ = false;
};

// Base of objects that store themselves as a record inside a chunk.
class TMChunkableClass {
  public:
    virtual ~TMChunkableClass() = default;

    // Reads the object's record at the chunk's cursor; nonzero on success. With skip set
    // the object consumes exactly its record's words and leaves itself unchanged.
    virtual int32_t readChunk(TMChunk& chunk, bool skip) = 0;
    // Writes the record at the cursor (or only advances it in count-only mode).
    virtual void writeChunk(TMChunk& chunk) = 0;

    // What a loader should do with the object after it read itself; 0 = nothing more.
    int32_t kind() const { return kind_; }

    // Words that writeChunk produces, measured with a count-only chunk.
    int32_t recordWords();

  protected:
    int32_t kind_ = 0;
};

}  // namespace kf
