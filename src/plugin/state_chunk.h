// The plug-in's whole state as one word chunk: the stored parameters, the sample
// reference, the MIDI learn maps and the program name. The same bytes are the host's
// project data and the content of a preset file, so the layout never changes.
//
// Reading is split in two: parse() checks and collects everything without touching the
// instance, and only a chunk that parsed completely is applied. A damaged chunk is
// refused whole and leaves the state exactly as it was.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plugin/midi_intake.h"
#include "plugin/parameters.h"
#include "state/chunk.h"
#include "state/state_layout.h"

namespace kf {

using LearnMaps = std::array<std::vector<LearnPair>, MidiIntake::kMaps>;

// What a chunk is written from.
struct StateSnapshot {
    const ParameterSet* parameters = nullptr;
    const LearnMaps* maps = nullptr;
    std::string programName;
};

// Writes the state (header and the four sections) into chunk: with count-only set the
// cursor just moves to the total; in a write pass the cursor must stand at that total.
void writeState(TMChunk& chunk, const StateSnapshot& state);

// Everything a chunk says, checked and ready to apply.
struct ParsedState {
    float tempo = 120.0f;
    int32_t bodyVersion = 0;
    struct Value {
        int32_t tag;
        float value;
    };
    std::vector<Value> values;       // plain parameters, in chunk order
    int32_t sampleRecordIndex = -1;  // word index of the sample record, -1 when absent
    LearnMaps maps;                  // controller maps 0-127 and the pressure map
    bool hasPressureMap = false;     // written by trailer version 14 and later
    std::optional<std::string> programName;
};

enum class ParseResult { kOk, kNotOurFormat, kWrongFamily, kNotOurProduct, kDamaged };

// Checks and collects a whole state chunk. sample (may be null) is asked to consume its
// record without changing itself, so a damaged sample record is caught here too.
ParseResult parseState(TMChunk& chunk, const ParameterSet& parameters, TMChunkableClass* sample,
                       ParsedState& out);

// The user-facing message for a refusal (printf format with %s for the product name).
const char* refusalMessage(ParseResult result);

}  // namespace kf
