// The sampler's sample: 16-bit channel buffers with their markers and file reference, the
// record that stores it (by file path) inside the state chunk, and the hand-shake that
// keeps the audio thread off the buffers while they are replaced.
//
// In memory each channel holds frames + 1 samples: the frames, then a guard sample equal
// to the first, so interpolation may read one frame past the last. A mono sample has no
// right channel.
//
// Threads: loading, assigning, clearing, chunk reading and writing, exporting and snapping
// run on non-audio threads and are serialised among themselves. The audio thread reads
// the buffers only between beginRead() and endRead().
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_dialogs.h"
#include "state/audio_file.h"
#include "state/chunk.h"

namespace kf {

class TMSampleData : public TMChunkableClass {
  public:
    static constexpr uint32_t kRecordMagic = 0xE6D0324Au;
    static constexpr int32_t kRecordVersion = 1;
    // Path and name of "no sample".
    static constexpr const char* kEmpty = "empty";

    TMSampleData() = default;
    ~TMSampleData() override;
    TMSampleData(const TMSampleData&) = delete;
    TMSampleData& operator=(const TMSampleData&) = delete;

    // --- state chunk record -----------------------------------------------------------------
    // Reads the record at the cursor. With skip set the record is only consumed. Otherwise
    // the sample is cleared, the markers and loop flag are taken from the record and the
    // named file is loaded. Returns 0 for a malformed or truncated record, an embedded
    // sample (not supported) or a file that could not be loaded; in the last case the
    // record's reference (frame count, markers, path) is kept, so the next record written
    // names the same file again.
    int32_t readChunk(TMChunk& chunk, bool skip) override;
    // Magic, version 1, frames, embedded 0, start, end, loop, and the path when frames is
    // not 0 (for a reference whose file was missing: the stored frame count).
    void writeChunk(TMChunk& chunk) override;

    // --- replacing the sample ----------------------------------------------------------------
    // Loads a WAV or AIFF file. False (the previous sample untouched) for a file that
    // cannot be opened, is not supported, is empty, too long for memory or short-read.
    // On success: path and name (the file's title) are set, the end marker becomes the
    // frame count.
    bool loadFile(const std::string& path);
    // Replaces the sample by copies of the arrays (right may be null for mono); path and
    // name stay, the end marker becomes frames. False (nothing changed) for frames < 1,
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

    // --- audio thread ------------------------------------------------------------------------
    // Call before touching the buffers: false while a replacement is in progress (skip the
    // sample this time). On true the buffers stay valid until endRead().
    bool beginRead() {
        if (loading_.load(std::memory_order_acquire)) return false;
        // Announce first, then look again: with both sides using sequentially consistent
        // operations, either we see the loader's flag or it sees ours and waits.
        reading_.store(true, std::memory_order_seq_cst);
        if (loading_.load(std::memory_order_seq_cst)) {
            reading_.store(false, std::memory_order_release);
            return false;
        }
        return true;
    }
    void endRead() { reading_.store(false, std::memory_order_release); }
    bool loading() const { return loading_.load(std::memory_order_acquire); }

    // Buffers and length: stable between beginRead() and endRead(); elsewhere only a hint.
    const int16_t* left() const { return left_.load(std::memory_order_relaxed); }
    const int16_t* right() const { return right_.load(std::memory_order_relaxed); }  // null for mono
    int32_t frames() const { return frames_.load(std::memory_order_relaxed); }
    float framesFloat() const { return framesFloat_.load(std::memory_order_relaxed); }
    float sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }  // Hz

    // Written by playback for the waveform display (frames, fractional); -1 before any.
    float playbackPosition() const { return playbackPosition_.load(std::memory_order_relaxed); }
    void setPlaybackPosition(float frame) { playbackPosition_.store(frame, std::memory_order_relaxed); }

    // Markers in frames; set by playback, the editor and the chunk record.
    int32_t startMarker() const { return startMarker_.load(std::memory_order_relaxed); }
    int32_t endMarker() const { return endMarker_.load(std::memory_order_relaxed); }
    void setStartMarker(int32_t frame) { startMarker_.store(frame, std::memory_order_relaxed); }
    void setEndMarker(int32_t frame) { endMarker_.store(frame, std::memory_order_relaxed); }
    bool loop() const { return loop_.load(std::memory_order_relaxed); }
    void setLoop(bool on) { loop_.store(on, std::memory_order_relaxed); }

    // --- user interface ----------------------------------------------------------------------
    std::string path() const;
    std::string name() const;
    // First rising zero crossing of the left channel; 0 when it has none.
    int32_t firstRise() const { return firstRise_.load(std::memory_order_relaxed); }
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
    // Swaps in new buffers under the hand-shake and frees the old ones afterwards.
    void install(int16_t* left, int16_t* right, int32_t frames, float sampleRate);
    void updateFirstRise();

    mutable std::mutex mutex_;  // serialises the non-audio threads; never taken by playback
    std::string path_ = kEmpty;
    std::string name_ = kEmpty;
    int32_t referenceFrames_ = 0;  // stored frame count of a file that could not be loaded
    TMAudioFile::ProgressCallback progress_ = nullptr;
    void* progressContext_ = nullptr;

    std::atomic<int16_t*> left_{nullptr};
    std::atomic<int16_t*> right_{nullptr};
    std::atomic<float> playbackPosition_{-1.0f};
    std::atomic<int32_t> startMarker_{0};
    std::atomic<int32_t> endMarker_{0};
    std::atomic<int32_t> frames_{0};
    std::atomic<int32_t> firstRise_{0};
    std::atomic<float> framesFloat_{0.0f};
    std::atomic<float> sampleRate_{44100.0f};
    std::atomic<bool> loading_{false};
    std::atomic<bool> reading_{false};
    std::atomic<bool> loop_{false};
};

// The file types an open-file dialog offers for an extension: for "wav" the audio types
// (WAV, and AIFF under both of its extensions), for anything else one "Preset file" type
// with that extension.
std::vector<platform::FileType> fileTypesForExtension(std::string_view extension);

}  // namespace kf
