#include "state/sample_data.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "state/paths.h"

namespace kf {

namespace {

// Buffers of frames + 1 samples: the extra one is the guard.
int16_t* newChannel(int32_t frames) {
    return new (std::nothrow) int16_t[static_cast<std::size_t>(frames) + 1];
}

}  // namespace

void TMSampleData::setProgressCallback(TMAudioFile::ProgressCallback callback, void* context) {
    std::lock_guard lock(mutex_);
    progress_ = callback;
    progressContext_ = context;
}

bool TMSampleData::loadFile(const std::string& path) {
    try {
        std::lock_guard lock(mutex_);
        return loadFileLocked(path);
    } catch (const std::exception&) {
        return false;
    }
}

bool TMSampleData::loadFileLocked(const std::string& path) {
    TMAudioFile file;
    file.setProgressCallback(progress_, progressContext_);
    if (file.openRead(path.c_str()) != TMAudioFile::kOk) return false;
    const int32_t frames = file.frames();
    const bool stereo = file.channels() == 2;
    const auto rate = static_cast<float>(file.sampleRate());

    // Frame counts are bounded by the file's real size and a fixed limit, but memory may
    // still run out: that refuses the file, it never throws.
    std::unique_ptr<int16_t[]> left(newChannel(frames));
    std::unique_ptr<int16_t[]> right(stereo ? newChannel(frames) : nullptr);
    std::unique_ptr<float[]> floatLeft(new (std::nothrow) float[static_cast<std::size_t>(frames)]);
    std::unique_ptr<float[]> floatRight(stereo ? new (std::nothrow) float[static_cast<std::size_t>(frames)]
                                               : nullptr);
    if (!left || !floatLeft || (stereo && (!right || !floatRight))) return false;
    // A mono file writes each value to both outputs; one buffer takes both.
    if (file.readFrames(floatLeft.get(), stereo ? floatRight.get() : floatLeft.get()) != TMAudioFile::kOk)
        return false;
    file.close();

    // x lies in -1..1 - 2^-23, so x * 32767 truncated always fits 16 bits. The product is
    // formed in double precision, where it is exact for 16- and 24-bit samples.
    const auto toInt16 = [](float x) { return static_cast<int16_t>(static_cast<double>(x) * 32767.0); };
    for (int32_t i = 0; i < frames; ++i)
        left[static_cast<std::size_t>(i)] = toInt16(floatLeft[static_cast<std::size_t>(i)]);
    left[static_cast<std::size_t>(frames)] = left[0];
    if (stereo) {
        for (int32_t i = 0; i < frames; ++i)
            right[static_cast<std::size_t>(i)] = toInt16(floatRight[static_cast<std::size_t>(i)]);
        right[static_cast<std::size_t>(frames)] = right[0];
    }

    install(left.release(), right.release(), frames, rate);
    path_ = path;
    name_ = pathTitle(path);
    referenceFrames_ = 0;
    setMarkersWithin(0, frames);
    return true;
}

bool TMSampleData::assignSample(const int16_t* left, const int16_t* right, int32_t frames, float sampleRate) {
    if (!left || frames < 1 || frames > TMAudioFile::kMaxFrames || !(sampleRate > 0.0f)) return false;
    std::unique_ptr<int16_t[]> newLeft(newChannel(frames));
    std::unique_ptr<int16_t[]> newRight(right ? newChannel(frames) : nullptr);
    if (!newLeft || (right && !newRight)) return false;
    const auto n = static_cast<std::size_t>(frames);
    std::copy(left, left + n, newLeft.get());
    newLeft[n] = newLeft[0];
    if (right) {
        std::copy(right, right + n, newRight.get());
        newRight[n] = newRight[0];
    }
    std::lock_guard lock(mutex_);
    install(newLeft.release(), newRight.release(), frames, sampleRate);
    referenceFrames_ = 0;
    setMarkersWithin(0, frames);
    return true;
}

void TMSampleData::clear() {
    std::lock_guard lock(mutex_);
    clearLocked();
}

void TMSampleData::clearLocked() {
    install(nullptr, nullptr, 0, sampleRate());
    path_ = kEmpty;
    name_ = kEmpty;
    referenceFrames_ = 0;
}

bool TMSampleData::exportWav(const std::string& folder) {
    try {
        std::lock_guard lock(mutex_);
        const int16_t* left = TMSampleBuffer::left();
        const int16_t* right = TMSampleBuffer::right();
        const int32_t frames = TMSampleBuffer::frames();
        if (!left || frames < 1 || folder.empty()) return false;
        const std::string target = withTrailingSeparator(folder) + name_ + ".wav";

        const auto n = static_cast<std::size_t>(frames);
        std::unique_ptr<float[]> floatLeft(new (std::nothrow) float[n]);
        std::unique_ptr<float[]> floatRight(right ? new (std::nothrow) float[n] : nullptr);
        if (!floatLeft || (right && !floatRight)) return false;
        constexpr float kScale = 1.0f / 32768.0f;
        for (std::size_t i = 0; i < n; ++i) floatLeft[i] = static_cast<float>(left[i]) * kScale;
        if (right)
            for (std::size_t i = 0; i < n; ++i) floatRight[i] = static_cast<float>(right[i]) * kScale;

        const auto rate = static_cast<int32_t>(std::lround(sampleRate()));
        TMAudioFile file;
        if (file.openWrite(target.c_str(), rate) != TMAudioFile::kOk) return false;
        const bool written = file.writeWav(floatLeft.get(), right ? floatRight.get() : floatLeft.get(),
                                           frames) == TMAudioFile::kOk;
        return file.close() && written;
    } catch (const std::exception&) {
        return false;
    }
}

bool TMSampleData::snapLoopPoint(bool isStart, int32_t position) {
    std::lock_guard lock(mutex_);
    const int16_t* data = left();
    const int32_t n = frames();
    if (!data || n < 2) return false;
    const int32_t start = startMarker();
    const int32_t end = endMarker();
    int32_t from = position >= 0 ? position : (isStart ? start : end);
    from = std::max(from, 1);  // a crossing needs a sample before it
    for (int32_t i = from; i < n; ++i) {
        if (!(data[i - 1] * data[i] < 0 && data[i] > 0)) continue;
        if (isStart) {
            if (i >= end) return false;
            setStartMarker(i);
        } else {
            if (i <= start) return false;
            setEndMarker(i);
        }
        return true;
    }
    return false;
}

void TMSampleData::setMarkersWithin(int32_t start, int32_t end) {
    const int32_t n = frames();
    if (end <= 0 || end > n) end = n;
    if (start < 0 || start >= end) start = 0;
    setStartMarker(start);
    setEndMarker(end);
}

std::vector<TMSampleData::Extent> TMSampleData::overview(int channel, int32_t first, int32_t count,
                                                         int32_t columns) const {
    std::vector<Extent> out;
    std::lock_guard lock(mutex_);
    const int16_t* data = channel == 1 && right() ? right() : left();
    const int32_t n = frames();
    if (!data || columns < 1 || count < 1 || first < 0 || first > n - count) return out;
    out.reserve(static_cast<std::size_t>(columns));
    for (int32_t c = 0; c < columns; ++c) {
        const int64_t from = first + static_cast<int64_t>(c) * count / columns;
        const int64_t to = std::max(first + static_cast<int64_t>(c + 1) * count / columns, from + 1);
        Extent e{data[from], data[from]};
        for (int64_t i = from + 1; i < to; ++i) {
            e.min = std::min(e.min, data[i]);
            e.max = std::max(e.max, data[i]);
        }
        out.push_back(e);
    }
    return out;
}

bool TMSampleData::readRecordHead(TMChunk& chunk, Record& record) {
    const auto first = static_cast<uint32_t>(chunk.readInt());
    if (first == kRecordMagic) {
        chunk.readInt();  // record version: versions 0 and 1 differ only in the magic and this word
        record.frames = chunk.readInt();
    } else {
        record.frames = static_cast<int32_t>(first);  // version 0: no magic
    }
    record.embedded = chunk.readInt();
    record.start = chunk.readInt();
    record.end = chunk.readInt();
    record.loop = chunk.readInt() != 0;
    return !chunk.failed();
}

int32_t TMSampleData::readChunk(TMChunk& chunk, bool skip) {
    try {
        Record record;
        if (!readRecordHead(chunk, record)) return 0;
        // Sample data stored inside the chunk is never written by this program; its layout
        // is unknown, so such a record cannot be read (or even skipped) safely.
        if (record.embedded != 0) return 0;
        std::unique_ptr<char[]> stored;
        if (record.frames != 0) {
            stored = chunk.readString();
            if (chunk.failed()) return 0;
        }
        if (skip) return 1;

        // The whole record has been read: only now is the current sample replaced.
        std::lock_guard lock(mutex_);
        clearLocked();
        setStartMarker(record.start);
        setEndMarker(record.end);
        setLoop(record.loop);
        if (record.frames == 0) return 1;
        std::string file = stored ? stored.get() : "";
        if (file == kEmpty) return 1;
        if (loadFileLocked(file)) {
            // The state brings back the loop it was saved with, as far as the file allows.
            setMarkersWithin(record.start, record.end);
            return 1;
        }
        // Keep the reference, so saving the state again does not silently drop it.
        path_ = std::move(file);
        referenceFrames_ = record.frames;
        return 0;
    } catch (const std::exception&) {
        return 0;
    }
}

void TMSampleData::writeChunk(TMChunk& chunk) {
    std::lock_guard lock(mutex_);
    const int32_t loaded = frames();
    const int32_t frames = loaded != 0 ? loaded : referenceFrames_;
    chunk.writeInt(static_cast<int32_t>(kRecordMagic));
    chunk.writeInt(kRecordVersion);
    chunk.writeInt(frames);
    chunk.writeInt(0);  // stored by reference, never embedded
    chunk.writeInt(startMarker());
    chunk.writeInt(endMarker());
    chunk.writeInt(loop() ? 1 : 0);
    if (frames != 0) chunk.writeString(path_.c_str());
}

std::string TMSampleData::path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

std::string TMSampleData::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

bool TMSampleData::fileMissing() const {
    std::lock_guard lock(mutex_);
    return referenceFrames_ != 0;
}

std::vector<platform::FileType> fileTypesForExtension(std::string_view extension) {
    // One type for all the audio files: a dialog shows the files of the type selected, and a
    // type per extension would hide every AIFF file behind the WAV type shown first.
    if (extension == "wav") return {{"Audio file", {"wav", "aif", "aiff"}}};
    return {{"Preset file", {std::string(extension)}}};
}

}  // namespace kf
