// The sound files of the render tool through libsndfile, which reads every common format.
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "host/sound_file.h"
#include "platform/safe_files.h"

namespace kf::host {

struct SoundFileReader::Impl {
    SNDFILE* file = nullptr;
    SF_INFO info{};
    std::string path;
    int64_t position = 0;
    std::string warning;
    std::vector<float> interleaved;

    void noteEarlyEnd(int64_t framesThere) {
        warning = "the audio file " + path + " ends early, before the end its header gives; " +
                  std::to_string(framesThere) + " frames were read";
    }
};

SoundFileReader::SoundFileReader() : impl_(std::make_unique<Impl>()) {}

SoundFileReader::~SoundFileReader() {
    if (impl_->file != nullptr) sf_close(impl_->file);
}

bool SoundFileReader::open(const std::string& path, std::string& error) {
    const int fd = platform::openRegularFile(path, std::numeric_limits<uint64_t>::max(), error);
    if (fd < 0) {
        error = "cannot read audio file: " + error;
        return false;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (file == nullptr) {
        ::close(fd);
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
    impl_->file = file;
    impl_->info = info;
    impl_->path = path;
    // libsndfile cuts a WAV or AIFF whose data chunk claims more than the file holds to what
    // is there before it reports the frame count, and says so only in its log.
    char log[4096] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    if (std::strstr(log, "(should be") != nullptr ||
        std::strstr(log, "not equal to frame count") != nullptr) {
        impl_->noteEarlyEnd(info.frames);
    }
    return true;
}

int SoundFileReader::sampleRate() const {
    return impl_->info.samplerate;
}

int SoundFileReader::channels() const {
    return impl_->info.channels;
}

int64_t SoundFileReader::frames() const {
    return impl_->info.frames;
}

int64_t SoundFileReader::position() const {
    return impl_->position;
}

const std::string& SoundFileReader::warning() const {
    return impl_->warning;
}

int32_t SoundFileReader::read(std::span<float* const> channels, int32_t frames) {
    Impl& m = *impl_;
    const auto nc = static_cast<std::size_t>(m.info.channels);
    const sf_count_t wanted = std::min<sf_count_t>(frames, m.info.frames - m.position);
    if (m.file == nullptr || channels.size() < nc || wanted <= 0) return 0;
    m.interleaved.resize(static_cast<std::size_t>(wanted) * nc);
    const sf_count_t got = std::max<sf_count_t>(sf_readf_float(m.file, m.interleaved.data(), wanted), 0);
    for (std::size_t f = 0; f < static_cast<std::size_t>(got); ++f)
        for (std::size_t c = 0; c < nc; ++c) channels[c][f] = m.interleaved[f * nc + c];
    m.position += got;
    if (got < wanted) {
        m.info.frames = m.position;
        if (m.warning.empty()) m.noteEarlyEnd(m.position);
    }
    return static_cast<int32_t>(got);
}

namespace {

int sndfileFormat(Container container, SampleFormat format) {
    const int sub = format == SampleFormat::Float32 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_24;
    switch (container) {
        case Container::Wav:
            return SF_FORMAT_WAV | sub;
        case Container::Aiff:
            return SF_FORMAT_AIFF | sub;
        case Container::Flac:
            return SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
        case Container::Ogg:
            return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    }
    return 0;
}

}  // namespace

struct SoundFileWriter::Impl {
    SNDFILE* file = nullptr;
    platform::FileReplacement replacement;
    std::string path;
    int channels = 0;
    std::vector<float> interleaved;
};

SoundFileWriter::SoundFileWriter() : impl_(std::make_unique<Impl>()) {}

SoundFileWriter::~SoundFileWriter() {
    if (impl_->file != nullptr) sf_close(impl_->file);
}

bool SoundFileWriter::open(const std::string& path, int sampleRate, int channels, Container container,
                           SampleFormat format, std::string& error) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = sndfileFormat(container, format);
    if (!sf_format_check(&info)) {
        error = "cannot write " + path + " with " + std::to_string(channels) + " channels at " +
                std::to_string(sampleRate) + " Hz in that format";
        return false;
    }
    if (!impl_->replacement.begin(path, error)) {
        error = "cannot write audio file: " + error;
        return false;
    }
    impl_->file = sf_open_fd(impl_->replacement.fd(), SFM_WRITE, &info, SF_FALSE);
    if (impl_->file == nullptr) {
        error = "cannot write audio file " + path + ": " + sf_strerror(nullptr);
        impl_->replacement.abandon();
        return false;
    }
    if (container != Container::Ogg) sf_command(impl_->file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    impl_->path = path;
    impl_->channels = channels;
    return true;
}

bool SoundFileWriter::write(std::span<const float* const> channels, int32_t frames, std::string& error) {
    const auto nc = static_cast<std::size_t>(impl_->channels);
    if (impl_->file == nullptr || channels.size() != nc || frames < 0) {
        error = "internal error: audio writer used with the wrong channel count or while closed";
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

bool SoundFileWriter::close(std::string& error) {
    if (impl_->file == nullptr) return false;
    sf_write_sync(impl_->file);
    const int status = sf_close(impl_->file);
    impl_->file = nullptr;
    if (status != 0) {
        error = "cannot finish audio file " + impl_->path + ": " + sf_error_number(status);
        impl_->replacement.abandon();
        return false;
    }
    return impl_->replacement.commit(error);
}

}  // namespace kf::host
