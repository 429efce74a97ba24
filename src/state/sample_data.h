// The sampler's sample with its file reference: loading WAV and AIFF files into the buffers
// playback reads (TMSampleBuffer), and the record that stores it (by file path) inside the
// state chunk.
//
// Threads: loading, assigning, clearing, chunk reading and writing, exporting and snapping
// run on non-audio threads and are serialised among themselves by the sample's mutex.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/sample_buffer.h"
#include "common/sample_extent.h"
#include "platform/file_dialogs.h"
#include "state/audio_file.h"
#include "state/chunk.h"
#include "state/sample_record.h"

namespace kf {

class TMSampleData : public TMSampleBuffer, public TMChunkableClass {
  public:
    static constexpr uint32_t kRecordMagic = samplerecord::kMagic;
    static constexpr int32_t kRecordVersion = samplerecord::kVersion;
    // Path and name of "no sample".
    static constexpr const char* kEmpty = samplerecord::kNoSamplePath;

    TMSampleData() = default;
    TMSampleData(const TMSampleData&) = delete;
    TMSampleData& operator=(const TMSampleData&) = delete;

    // --- state chunk record -----------------------------------------------------------------
    // Reads the record at the cursor. With skip set the record is only consumed. Otherwise
    // the sample is cleared, the loop flag is taken from the record and the named file is
    // loaded with the record's markers (an end of 0, past the file's end or not after the
    // start means the whole sample; a start outside it means 0). Returns 0 for a malformed
    // or truncated record, an embedded sample (not supported) or a file that could not be
    // loaded; in the last case the record's reference (frame count, markers, path) is kept,
    // so the next record written names the same file again.
    int32_t readChunk(TMChunk& chunk, bool skip) override;
    // Magic, version 1, frames, embedded 0, start, end, loop, and the path when frames is
    // not 0 (for a reference whose file was missing: the stored frame count).
    void writeChunk(TMChunk& chunk) override;

    // --- replacing the sample ----------------------------------------------------------------
    // Loads a WAV or AIFF file. False (the previous sample untouched) for a file that
    // cannot be opened, is not supported, is empty, too long for memory or short-read.
    // On success: path and name (the file's title) are set and the markers span the whole
    // sample (start 0, end the frame count).
    bool loadFile(const std::string& path);
    // Replaces the sample by copies of the arrays (right may be null for mono); path and
    // name stay, the markers span the whole sample. False (nothing changed) for frames < 1,
    // a null left array or a rate that is not positive.
    bool assignSample(const int16_t* left, const int16_t* right, int32_t frames, float sampleRate);
    // Frees the buffers; path and name become "empty".
    void clear();
    // Writes the sample as <folder>/<name>.wav: 16-bit stereo at the sample's own rate,
    // the right channel from the right buffer (or the left for mono). False when there is
    // no sample or the file cannot be written.
    bool exportWav(const std::string& folder);

    // Moves the start (isStart) or end marker to the first rising zero crossing (a
    // negative sample followed by a positive one) at or after position, or after the
    // current marker when position is negative. The start must stay below the end marker
    // and the end above the start; true if the marker moved.
    bool snapLoopPoint(bool isStart, int32_t position = -1);

    // Receives the fraction done while a file is read (called on the loading thread).
    void setProgressCallback(TMAudioFile::ProgressCallback callback, void* context);

    // --- user interface ----------------------------------------------------------------------
    std::string path() const;
    std::string name() const;

    // The lowest and highest left (channel 0) or right (1) value of each of `columns`
    // equal slices of frames [first, first + count); column c covers frames
    // first + c * count / columns up to the next column's first frame (at least one frame).
    // A mono sample answers channel 1 from the left. Empty without a sample or for a
    // range that is not inside it. Reads the buffers under the sample's lock: never call it
    // from the audio thread.
    using Extent = SampleExtent;
    std::vector<Extent> overview(int channel, int32_t first, int32_t count, int32_t columns) const;
    // True after a chunk named a file that could not be loaded: the sample is empty but
    // its reference is kept for the next record.
    bool fileMissing() const;

  private:
    struct Record {
        int32_t frames = 0;
        int32_t embedded = 0;
        int32_t start = 0;
        int32_t end = 0;
        bool loop = false;
    };
    static bool readRecordHead(TMChunk& chunk, Record& record);

    bool loadFileLocked(const std::string& path);
    void clearLocked();
    // Sets the markers, replacing what does not fit the loaded sample by its whole length.
    void setMarkersWithin(int32_t start, int32_t end);

    mutable std::mutex mutex_;  // serialises the non-audio threads; never taken by playback
    std::string path_ = kEmpty;
    std::string name_ = kEmpty;
    int32_t referenceFrames_ = 0;  // stored frame count of a file that could not be loaded
    TMAudioFile::ProgressCallback progress_ = nullptr;
    void* progressContext_ = nullptr;
};

// The file types an open-file dialog offers for an extension: for "wav" one audio type (WAV,
// and AIFF under both of its extensions), for anything else one "Preset file" type with that
// extension.
std::vector<platform::FileType> fileTypesForExtension(std::string_view extension);

}  // namespace kf
