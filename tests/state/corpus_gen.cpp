// Writes the seed corpus of the WAV/AIFF and chunk fuzz targets: small, valid inputs
// that reach every branch of the parsers, from which the fuzzer mutates.
#include <cstdio>
#include <filesystem>
#include <string>

#include "state/chunk.h"
#include "state/sample_data.h"
#include "test_files.h"

namespace {

using kf::TMChunk;
using kf::test::Bytes;

void save(const std::filesystem::path& folder, const std::string& name, const Bytes& bytes) {
    std::filesystem::create_directories(folder);
    kf::test::writeBytes(folder / name, bytes);
}

Bytes chunkBytes(TMChunk& chunk) {
    const auto* p = static_cast<const uint8_t*>(chunk.data());
    return Bytes(p, p + static_cast<std::size_t>(chunk.index()) * 4);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const std::filesystem::path audio = root / "audio_file";
    const std::vector<int32_t> ramp16 = {0, 1000, -1000, 32767, -32768, 5, -5, 0};
    const std::vector<int32_t> ramp24 = {0, 8388607, -8388608, 1, -1, 4096, -4096, 0};

    kf::test::WavSpec wav;
    save(audio, "mono16.wav", kf::test::makeWav(wav, ramp16));
    std::vector<int32_t> long16(600);  // more than one 1024-byte block
    for (std::size_t i = 0; i < long16.size(); ++i) long16[i] = static_cast<int32_t>(i * 97 % 65536) - 32768;
    save(audio, "mono16-two-blocks.wav", kf::test::makeWav(wav, long16));
    wav.channels = 2;
    save(audio, "stereo16.wav", kf::test::makeWav(wav, ramp16));
    wav.bits = 24;
    save(audio, "stereo24.wav", kf::test::makeWav(wav, ramp24));
    wav.channels = 1;
    wav.fmtSize = 18;
    wav.listChunkBeforeData = true;
    save(audio, "mono24-extras.wav", kf::test::makeWav(wav, ramp24));
    wav = {};
    wav.dataSizeClaim = 0xFFFFFFF0;
    save(audio, "mono16-oversized-claim.wav", kf::test::makeWav(wav, ramp16));
    // Chunk names inside other chunks: the word "data" in a LIST text, a 'd' just before "data".
    wav = {};
    wav.beforeData = kf::test::riffChunk("LIST", std::string("INFOICMT\x0a\0\0\0data here\0", 22));
    save(audio, "mono16-list-with-data.wav", kf::test::makeWav(wav, ramp16));
    wav.beforeData = kf::test::riffChunk("note", "od");
    save(audio, "mono16-d-before-data.wav", kf::test::makeWav(wav, ramp16));

    kf::test::AiffSpec aiff;
    save(audio, "mono16.aif", kf::test::makeAiff(aiff, ramp16));
    aiff.channels = 2;
    aiff.bits = 24;
    aiff.rate = 48000;
    save(audio, "stereo24-48k.aif", kf::test::makeAiff(aiff, ramp24));
    aiff.offset = 4;
    aiff.rate = 96000;
    save(audio, "stereo24-offset.aif", kf::test::makeAiff(aiff, ramp24));

    // Chunk inputs: a sample record of each version, and a header with strings and data.
    const std::filesystem::path chunks = root / "chunk";
    TMChunk c;
    c.allocate(64);
    for (int32_t w : {static_cast<int32_t>(kf::TMSampleData::kRecordMagic), 1, 3, 0, 0, 3, 1}) c.writeInt(w);
    c.writeString("/samples/loop.wav");
    save(chunks, "sample-record-v1.bin", chunkBytes(c));
    c.setIndex(0);
    for (int32_t w : {3, 0, 0, 3, 0}) c.writeInt(w);
    c.writeString("/x.aif");
    save(chunks, "sample-record-v0.bin", chunkBytes(c));
    c.setIndex(0);
    for (int32_t w : {static_cast<int32_t>(kf::TMSampleData::kRecordMagic), 1, 0, 0, 0, 0, 0}) c.writeInt(w);
    save(chunks, "sample-record-empty.bin", chunkBytes(c));
    c.setIndex(TMChunk::kHeaderWords);
    for (int32_t w : {5, 1, 3, 41, 1, 1, 0x3F000000, -1, -3, 1}) c.writeInt(w);
    c.writeString("default");
    c.writeInt(16);
    c.writeString("Host");
    const int32_t total = c.index();
    c.writeHeader();  // goes to the front, with the total
    c.setIndex(total);
    save(chunks, "header-and-strings.bin", chunkBytes(c));
    return 0;
}
