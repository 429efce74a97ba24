#include "state/sample_record.h"

#include <algorithm>
#include <cstring>

#include "common/parameter_table.h"
#include "state/state_layout.h"

namespace kf::samplerecord {

namespace {

constexpr int32_t kChunkId = parameterRow(tag::sampler)->chunkId;
constexpr std::size_t kFramesWord = 2;

}  // namespace

std::vector<int32_t> encode(const Reference& reference) {
    std::vector<int32_t> words = {
        static_cast<int32_t>(kMagic), kVersion, reference.frames, 0, reference.start, reference.end,
        reference.loop ? 1 : 0};
    if (reference.frames == 0) return words;
    words.push_back(static_cast<int32_t>(reference.path.size()));
    const std::size_t text = words.size();
    words.resize(text + (reference.path.size() + 3) / 4, 0);
    std::memcpy(words.data() + text, reference.path.data(), reference.path.size());
    return words;
}

std::optional<Place> find(std::span<const int32_t> chunkWords) {
    auto at = static_cast<std::size_t>(statechunk::kFirstParameterRecord);
    while (at + 1 < chunkWords.size() && chunkWords[at] != statechunk::kEndOfParameters) {
        const auto length = static_cast<std::size_t>(std::max(chunkWords[at + 1], 0));
        if (length > chunkWords.size() - (at + 2)) return std::nullopt;
        if (chunkWords[at] == kChunkId) return Place{at, chunkWords.subspan(at + 2, length)};
        at += 2 + length;
    }
    return std::nullopt;
}

Reference decode(std::span<const int32_t> payload) {
    Reference reference;
    if (payload.size() < kHeadWords || static_cast<uint32_t>(payload[0]) != kMagic) return reference;
    reference.frames = payload[kFramesWord];
    if (reference.frames == 0 || payload.size() == kHeadWords) return reference;
    const auto bytes = static_cast<std::size_t>(std::max(payload[kHeadWords], 0));
    if (bytes <= (payload.size() - kHeadWords - 1) * 4)
        reference.path.assign(reinterpret_cast<const char*>(payload.data() + kHeadWords + 1), bytes);
    return reference;
}

std::vector<int32_t> replace(std::span<const int32_t> chunkWords, const Place& place,
                             std::span<const int32_t> record) {
    std::vector<int32_t> words(chunkWords.begin(),
                               chunkWords.begin() + static_cast<std::ptrdiff_t>(place.at) + 1);
    words.push_back(static_cast<int32_t>(record.size()));
    words.insert(words.end(), record.begin(), record.end());
    const std::size_t after = place.at + 2 + place.payload.size();
    words.insert(words.end(), chunkWords.begin() + static_cast<std::ptrdiff_t>(after), chunkWords.end());
    words[0] = static_cast<int32_t>(words.size());  // the container's first word: its length in words
    return words;
}

}  // namespace kf::samplerecord
