// The sampler's record in the state chunk. The sample is kept by reference, never
// embedded: magic, version, frame count, embedded flag (0), start marker, end marker, loop
// flag, then, when the frame count is not 0, the file's path as a chunk string (its byte
// count, then its bytes in words, zero padded). The record is the payload of the parameter
// record whose chunk id is the sampler's.
//
// TMSampleData reads and writes it through a TMChunk; a host that has only a plug-in's chunk
// bytes (the render tool loading a sample the way a restored project does) reads and
// replaces it here, as words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kf::samplerecord {

inline constexpr uint32_t kMagic = 0xE6D0324Au;
inline constexpr int32_t kVersion = 1;
// Magic to loop flag: the words before the path.
inline constexpr std::size_t kHeadWords = 7;
// The path (and name) that stands for no sample.
inline constexpr const char* kNoSamplePath = "empty";

struct Reference {
    int32_t frames = 0;  // the sample's length when it was saved; 0 for no sample
    int32_t start = 0, end = 0;
    bool loop = false;
    std::string path;
};

// The record's words.
std::vector<int32_t> encode(const Reference& reference);

// Where the record sits among a chunk's words: `at` is the index of its parameter record's
// chunk id, `payload` the record itself.
struct Place {
    std::size_t at = 0;
    std::span<const int32_t> payload;
};

// The sampler's record in a chunk (as the plug-in writes it), or nothing when the chunk has
// none.
std::optional<Place> find(std::span<const int32_t> chunkWords);

// The frame count and path of a record; a malformed one reads as no sample.
Reference decode(std::span<const int32_t> payload);

// The chunk's words with the sampler's record replaced by `record` and the chunk's length
// word updated to match.
std::vector<int32_t> replace(std::span<const int32_t> chunkWords, const Place& place,
                             std::span<const int32_t> record);

}  // namespace kf::samplerecord
