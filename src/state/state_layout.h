// Where things sit in the plug-in's state chunk (the bytes of a host's project and of a
// preset file), for the code that writes it and for code that reads it as words.
//
// After the container's header (TMChunk::kHeaderWords words) come the header's word count,
// the format family, the body version and the product word; then the parameter records
// (chunk id, payload word count, payload) up to kEndOfParameters; then the learn maps, the
// program name and the trailer.
#pragma once

#include <cstdint>

#include "state/chunk.h"

namespace kf::statechunk {

constexpr int32_t kFormatFamily = 1;
constexpr int32_t kBodyVersion = 3;
constexpr int32_t kProductWord = 41;
constexpr int32_t kTrailerVersion = 16;
constexpr int32_t kEndOfParameters = -1;
constexpr int32_t kEndOfController = -2;
constexpr int32_t kEndOfMaps = -3;
constexpr int32_t kEndOfPressure = -4;

// The word index of the first parameter record in a chunk of this body version.
constexpr int32_t kFirstParameterRecord = TMChunk::kHeaderWords + 4;

}  // namespace kf::statechunk
