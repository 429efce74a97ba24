#include "plugin/state_chunk.h"

#include <cstring>

namespace kf {

using namespace statechunk;

namespace {

void writePair(TMChunk& chunk, const LearnPair& p) {
    chunk.writeInt(p.tag);  // sign-extended from 16 bits
    chunk.writeInt(p.aux);
}

void writeParameters(TMChunk& chunk, const ParameterSet& parameters) {
    for (const TMParameter* p : parameters.stored()) {
        chunk.writeInt(p->chunkId);
        if (p->linked) {
            chunk.writeInt(p->linked->recordWords());
            p->linked->writeChunk(chunk);
        } else {
            chunk.writeInt(1);
            chunk.writeFloat(relaxedLoad(*p->value));
        }
    }
    chunk.writeInt(kEndOfParameters);
}

void writeMaps(TMChunk& chunk, const LearnMaps& maps) {
    for (int c = 0; c < MidiIntake::kControllers; ++c) {
        const std::vector<LearnPair>& map = maps[static_cast<std::size_t>(c)];
        if (map.empty()) continue;
        chunk.writeInt(c);
        for (const LearnPair& p : map) writePair(chunk, p);
        chunk.writeInt(kEndOfController);
    }
    chunk.writeInt(kEndOfMaps);
}

void writeTrailer(TMChunk& chunk, const std::vector<LearnPair>& pressure) {
    chunk.writeInt(kTrailerVersion);
    chunk.writeInt(static_cast<int32_t>(pressure.size()));
    for (const LearnPair& p : pressure) writePair(chunk, p);
    chunk.writeInt(kEndOfPressure);
    chunk.writeInt(0);  // an empty float matrix: rows and columns
    chunk.writeInt(0);
    chunk.writeString("Host");
}

// Reads one learn pair in the encoding of the chunk's body version.
LearnPair readPair(TMChunk& chunk, int32_t bodyVersion) {
    if (bodyVersion >= 3) {
        const int32_t tag = chunk.readInt();
        const int32_t aux = chunk.readInt();
        return {static_cast<int16_t>(tag), static_cast<int16_t>(aux)};
    }
    return {static_cast<int16_t>(chunk.readInt()), 0};
}

const TMParameter* storedById(const ParameterSet& parameters, int32_t id) {
    for (const TMParameter* p : parameters.stored())
        if (p->chunkId == id) return p;
    return nullptr;
}

bool parseParameters(TMChunk& chunk, const ParameterSet& parameters, TMChunkableClass* sample,
                     ParsedState& out) {
    for (;;) {
        const int32_t id = chunk.readInt();
        if (chunk.failed()) return false;
        if (id == kEndOfParameters) return true;
        const int32_t n = chunk.readInt();
        if (chunk.failed() || n < 0 || n > chunk.remaining()) return false;
        const int32_t payload = chunk.index();
        const TMParameter* p = storedById(parameters, id);
        if (p && p->linked) {
            // Only the sample has a record of its own; let it check that record now.
            if (sample && p->linked == sample) {
                if (sample->readChunk(chunk, true) == 0 || chunk.failed() || chunk.index() - payload > n)
                    return false;
                out.sampleRecordIndex = payload;
            }
        } else if (p && n >= 1) {
            out.values.push_back({p->tag, chunk.readFloat()});
        }
        // Records for unknown ids and longer payloads are passed over by their count.
        if (!chunk.setIndex(payload + n)) return false;
    }
}

bool parseMaps(TMChunk& chunk, ParsedState& out) {
    for (;;) {
        const int32_t c = chunk.readInt();
        if (chunk.failed()) return false;
        if (c == kEndOfMaps) return true;
        if (c < 0 || c >= MidiIntake::kControllers) return false;
        std::vector<LearnPair>& map = out.maps[static_cast<std::size_t>(c)];
        for (;;) {
            const int32_t word = chunk.readInt();
            if (chunk.failed()) return false;
            if (word == kEndOfController) break;
            chunk.unreadWord();
            const LearnPair pair = readPair(chunk, out.bodyVersion);
            if (chunk.failed()) return false;
            // A pair for a tag no parameter has can never drive anything, and written out
            // again a tag of -2 or -3 would read as the end of its map; leave such pairs out.
            if (isTag(pair.tag)) map.push_back(pair);
        }
    }
}

bool parseTrailer(TMChunk& chunk, ParsedState& out) {
    const int32_t trailer = chunk.readInt();
    if (chunk.failed()) return false;
    if (trailer >= 14) {
        const int32_t count = chunk.readInt();
        const int32_t wordsPerPair = out.bodyVersion >= 3 ? 2 : 1;
        if (chunk.failed() || count < 0 || count > chunk.remaining() / wordsPerPair) return false;
        std::vector<LearnPair>& pressure = out.maps[MidiIntake::kPressureMap];
        for (int32_t i = 0; i < count; ++i) {
            const LearnPair pair = readPair(chunk, out.bodyVersion);
            if (isTag(pair.tag)) pressure.push_back(pair);
        }
        chunk.readInt();  // terminator
        out.hasPressureMap = true;
    }
    if (trailer >= 15) {
        const int32_t rows = chunk.readInt();
        const int32_t cols = chunk.readInt();
        if (chunk.failed() || rows < 0 || cols < 0 ||
            static_cast<int64_t>(rows) * cols > static_cast<int64_t>(chunk.remaining()))
            return false;
        chunk.setIndex(chunk.index() + rows * cols);
    }
    if (trailer >= 16) chunk.readString();
    return !chunk.failed();
}

}  // namespace

void writeState(TMChunk& chunk, const StateSnapshot& state) {
    chunk.writeHeader();
    chunk.writeInt(TMChunk::kHeaderWords);
    chunk.writeInt(kFormatFamily);
    chunk.writeInt(kBodyVersion);
    chunk.writeInt(kProductWord);
    writeParameters(chunk, *state.parameters);
    writeMaps(chunk, *state.maps);
    chunk.writeInt(1);
    chunk.writeString(state.programName.c_str());
    writeTrailer(chunk, (*state.maps)[MidiIntake::kPressureMap]);
}

ParseResult parseState(TMChunk& chunk, const ParameterSet& parameters, TMChunkableClass* sample,
                       ParsedState& out) {
    out = ParsedState{};
    if (!chunk.readHeader() || chunk.magic() != TMChunk::kStateMagic) return ParseResult::kNotOurFormat;
    out.tempo = chunk.tempo();
    chunk.setIndex(TMChunk::kHeaderWords + 1);  // past the header-length word
    const int32_t family = chunk.readInt();
    if (chunk.failed()) return ParseResult::kDamaged;  // a header with nothing behind it
    if (family != kFormatFamily) return ParseResult::kWrongFamily;
    out.bodyVersion = chunk.readInt();
    if (chunk.failed()) return ParseResult::kDamaged;
    if (out.bodyVersion <= 0) return ParseResult::kNotOurProduct;
    if (out.bodyVersion >= 2 && chunk.readInt() != kProductWord) return ParseResult::kNotOurProduct;

    if (!parseParameters(chunk, parameters, sample, out) || !parseMaps(chunk, out))
        return ParseResult::kDamaged;
    const int32_t hasName = chunk.readInt();
    if (chunk.failed()) return ParseResult::kDamaged;
    if (hasName > 0) {
        const std::unique_ptr<char[]> name = chunk.readString();
        if (chunk.failed()) return ParseResult::kDamaged;
        out.programName = name ? std::string(name.get()) : std::string();
    }
    if (!parseTrailer(chunk, out)) return ParseResult::kDamaged;
    return ParseResult::kOk;
}

const char* refusalMessage(ParseResult result) {
    switch (result) {
        case ParseResult::kNotOurFormat:
            return "\t This is no valid %s format!";
        case ParseResult::kWrongFamily:
            return "wrong plugin version";
        case ParseResult::kNotOurProduct:
            return "This is not a %s file";
        case ParseResult::kDamaged:
            return "This %s state is damaged or cut short and was not loaded; nothing was changed.";
        default:
            return "";
    }
}

}  // namespace kf
