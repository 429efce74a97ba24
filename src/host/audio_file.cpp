#include "host/audio_file.h"

#include <sndfile.h>

#include <algorithm>

namespace kf::host {

bool readAudioFile(const std::string& path, AudioData& out, std::string& error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = "cannot read audio file " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    // 2^31 frames is over 12 hours at 48 kHz; beyond that the file is surely not meant.
    constexpr sf_count_t kMaxFrames = sf_count_t{1} << 31;
    if (info.channels < 1 || info.samplerate < 1 || info.frames < 0 || info.frames > kMaxFrames) {
        sf_close(file);
        error = "unsupported audio file " + path + " (" + std::to_string(info.channels) + " channels, " +
                std::to_string(info.frames) + " frames)";
        return false;
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    out.sampleRate = info.samplerate;
    out.channels.assign(channels, std::vector<float>(static_cast<std::size_t>(info.frames)));

    constexpr sf_count_t kChunk = 4096;
    std::vector<float> interleaved(static_cast<std::size_t>(kChunk) * channels);
    sf_count_t done = 0;
    while (done < info.frames) {
        const sf_count_t got = sf_readf_float(file, interleaved.data(), std::min(kChunk, info.frames - done));
        if (got <= 0) break;
        for (sf_count_t f = 0; f < got; ++f)
            for (std::size_t c = 0; c < channels; ++c)
                out.channels[c][static_cast<std::size_t>(done + f)] =
                    interleaved[static_cast<std::size_t>(f) * channels + c];
        done += got;
    }
    sf_close(file);
    if (done != info.frames) {
        error = "audio file " + path + " is truncated: read " + std::to_string(done) + " of " +
                std::to_string(info.frames) + " frames";
        return false;
    }
    return true;
}

struct WavWriter::Impl {
    SNDFILE* file = nullptr;
    std::string path;
    int channels = 0;
    std::vector<float> interleaved;
};

WavWriter::WavWriter() : impl_(std::make_unique<Impl>()) {}

WavWriter::~WavWriter() {
    if (impl_->file != nullptr) sf_close(impl_->file);
}

bool WavWriter::open(const std::string& path, int sampleRate, int channels, SampleFormat format,
                     std::string& error) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | (format == SampleFormat::Float32 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_24);
    if (!sf_format_check(&info)) {
        error = "cannot write a WAV file with " + std::to_string(channels) + " channels at " +
                std::to_string(sampleRate) + " Hz";
        return false;
    }
    impl_->file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (impl_->file == nullptr) {
        error = "cannot write audio file " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    sf_command(impl_->file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    impl_->path = path;
    impl_->channels = channels;
    return true;
}

bool WavWriter::write(std::span<const float* const> channels, int32_t frames, std::string& error) {
    const auto nc = static_cast<std::size_t>(impl_->channels);
    if (impl_->file == nullptr || channels.size() != nc || frames < 0) {
        error = "internal error: WAV writer used with the wrong channel count or while closed";
        return false;
    }
    impl_->interleaved.resize(static_cast<std::size_t>(frames) * nc);
    for (std::size_t f = 0; f < static_cast<std::size_t>(frames); ++f)
        for (std::size_t c = 0; c < nc; ++c) impl_->interleaved[f * nc + c] = channels[c][f];
    if (sf_writef_float(impl_->file, impl_->interleaved.data(), frames) != frames) {
        error = "cannot write audio file " + impl_->path + ": " + sf_strerror(impl_->file);
        return false;
    }
    return true;
}

bool WavWriter::close(std::string& error) {
    if (impl_->file == nullptr) return true;
    sf_write_sync(impl_->file);
    const int status = sf_close(impl_->file);
    impl_->file = nullptr;
    if (status != 0) {
        error = "cannot finish audio file " + impl_->path + ": " + sf_error_number(status);
        return false;
    }
    return true;
}

bool writeWavFile(const std::string& path, const AudioData& data, SampleFormat format, std::string& error) {
    WavWriter writer;
    if (!writer.open(path, data.sampleRate, static_cast<int>(data.channels.size()), format, error))
        return false;
    constexpr int64_t kChunk = 65536;
    std::vector<const float*> pointers(data.channels.size());
    for (int64_t pos = 0; pos < data.frames(); pos += kChunk) {
        for (std::size_t c = 0; c < pointers.size(); ++c) pointers[c] = data.channels[c].data() + pos;
        if (!writer.write(pointers, static_cast<int32_t>(std::min(kChunk, data.frames() - pos)), error))
            return false;
    }
    return writer.close(error);
}

}  // namespace kf::host
