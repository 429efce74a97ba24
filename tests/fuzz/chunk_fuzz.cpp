// Treats arbitrary bytes as a chunk and reads it the way readers do: a stream of typed
// reads chosen by the data itself, and the sample record. Every read must stay inside the
// buffer; once a read failed, the chunk must stay failed and return only zeros.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "state/chunk.h"
#include "state/sample_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Wrap an unaligned view, as a host's buffer may be.
    std::vector<uint8_t> copy(size + 1);
    if (size) std::memcpy(copy.data() + 1, data, size);
    const uint8_t* bytes = copy.data() + 1;

    kf::TMChunk chunk;
    chunk.wrap(bytes, size);
    chunk.readHeader();
    chunk.setIndex(0);
    chunk.clearFailure();
    std::vector<uint8_t> scratch;
    int guard = 0;
    while (!chunk.failed() && ++guard < 10000) {
        const int32_t op = chunk.readInt();
        switch (static_cast<uint32_t>(op) % 6) {
            case 0:
                chunk.readFloat();
                break;
            case 1:
                chunk.readQuad();
                break;
            case 2: {
                auto text = chunk.readString();
                if (text && chunk.failed()) std::abort();
                break;
            }
            case 3: {
                const int32_t n = chunk.readInt() % 4096;
                scratch.resize(n > 0 ? static_cast<size_t>(n) : 0);
                chunk.readData(scratch.data(), n);
                break;
            }
            case 4:
                chunk.unreadWord();
                chunk.readInt();
                chunk.readInt();
                break;
            default:
                chunk.readInt();
                break;
        }
        if (chunk.index() < 0 || chunk.index() > chunk.wordCount()) std::abort();
    }
    if (chunk.failed() && (chunk.readInt() != 0 || chunk.readString() != nullptr)) std::abort();

    // The sample record, consumed without touching any file.
    kf::TMChunk record;
    record.wrap(bytes, size);
    kf::TMSampleData sample;
    const int32_t ok = sample.readChunk(record, true);
    if (ok && record.failed()) std::abort();
    if (sample.frames() != 0) std::abort();
    return 0;
}
