// The sound files of the render tool where libsndfile is not at hand (the Windows build):
// WAV only, read as 16-, 24- or 32-bit integers or 32-bit floats and written as 24-bit
// integers or 32-bit floats, through the platform's safe file calls.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "host/sound_file.h"
#include "platform/file_system.h"
#include "platform/safe_files.h"

namespace kf::host {
namespace {

constexpr uint16_t kPcmTag = 1;
constexpr uint16_t kFloatTag = 3;
constexpr uint16_t kExtensibleTag = 0xFFFE;
// 2^31 frames is over 12 hours at 48 kHz; beyond that the file is surely not meant.
constexpr int64_t kMaxFrames = int64_t{1} << 31;
constexpr const char* kOnlyWav = "this build of the tool reads and writes WAV files only";

uint32_t le16(const uint8_t* p) {
    return p[0] | (uint32_t{p[1]} << 8);
}
uint32_t le32(const uint8_t* p) {
    return le16(p) | (le16(p + 2) << 16);
}
void putLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void putLe32(uint8_t* p, uint32_t v) {
    putLe16(p, v);
    putLe16(p + 2, v >> 16);
}

// Reads exactly n bytes unless the file ends first; the count read.
std::size_t readFully(int fd, uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const auto got =
            ::read(fd, out + done, static_cast<unsigned>(std::min<std::size_t>(n - done, 1 << 20)));
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool writeFully(int fd, const uint8_t* data, std::size_t n) {
    while (n > 0) {
        const auto put = ::write(fd, data, static_cast<unsigned>(std::min<std::size_t>(n, 1 << 20)));
        if (put <= 0) return false;
        data += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace

struct SoundFileReader::Impl {
    int fd = -1;
    std::string path;
    int sampleRate = 0;
    int channels = 0;
    int bytesPerSample = 0;
    bool isFloat = false;
    int64_t frames = 0;
    int64_t position = 0;
    std::string warning;
    std::vector<uint8_t> bytes;

    // Finds "fmt " and then "data"; on success the file stands at the first sample.
    bool parse(std::string& error) {
        std::array<uint8_t, 12> riff{};
        if (readFully(fd, riff.data(), riff.size()) != riff.size() ||
            std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0) {
            error = path + " is not a WAV file; " + kOnlyWav;
            return false;
        }
        bool haveFormat = false;
        for (;;) {
            std::array<uint8_t, 8> header{};
            if (readFully(fd, header.data(), header.size()) != header.size()) {
                error = path + (haveFormat ? " has no sample data" : " has no format chunk");
                return false;
            }
            const uint32_t size = le32(header.data() + 4);
            if (std::memcmp(header.data(), "data", 4) == 0) {
                if (!haveFormat) {
                    error = path + " has its samples before its format chunk";
                    return false;
                }
                frames = size / static_cast<uint32_t>(channels * bytesPerSample);
                return true;
            }
            std::vector<uint8_t> body(size + (size & 1));
            if (readFully(fd, body.data(), body.size()) != body.size()) {
                error = path + " ends inside a chunk";
                return false;
            }
            if (std::memcmp(header.data(), "fmt ", 4) == 0 && !parseFormat(body, error)) return false;
            haveFormat = haveFormat || std::memcmp(header.data(), "fmt ", 4) == 0;
        }
    }

    bool parseFormat(const std::vector<uint8_t>& body, std::string& error) {
        if (body.size() < 16) {
            error = path + " has a format chunk too short to read";
            return false;
        }
        uint32_t tag = le16(body.data());
        // The extensible form names the same two sample types by the first two bytes of its
        // sub-format.
        if (tag == kExtensibleTag && body.size() >= 26) tag = le16(body.data() + 24);
        channels = static_cast<int>(le16(body.data() + 2));
        sampleRate = static_cast<int>(le32(body.data() + 4));
        const uint32_t bits = le16(body.data() + 14);
        isFloat = tag == kFloatTag;
        bytesPerSample = static_cast<int>(bits / 8);
        const bool known =
            (tag == kPcmTag && (bits == 16 || bits == 24 || bits == 32)) || (tag == kFloatTag && bits == 32);
        if (!known) {
            error = path + " holds samples of a kind not read here (format " + std::to_string(tag) + ", " +
                    std::to_string(bits) +
                    " bits); WAV files of 16-, 24- or 32-bit integers or 32-bit "
                    "floats are";
            return false;
        }
        if (channels < 1 || sampleRate < 1) {
            error = "unsupported audio file " + path + " (" + std::to_string(channels) + " channels, " +
                    std::to_string(sampleRate) + " Hz)";
            return false;
        }
        return true;
    }

    float sample(const uint8_t* p) const {
        switch (bytesPerSample) {
            case 2:
                return static_cast<float>(static_cast<int16_t>(le16(p))) / 32768.0f;
            case 3:
                // Into the top of 32 bits and back, so that the sign comes along.
                return static_cast<float>(static_cast<int32_t>((uint32_t{p[0]} << 8) |
                                                               (uint32_t{p[1]} << 16) |
                                                               (uint32_t{p[2]} << 24)) >>
                                          8) /
                       8388608.0f;
            default: {
                const uint32_t bits = le32(p);
                if (!isFloat)
                    return static_cast<float>(static_cast<double>(static_cast<int32_t>(bits)) / 2147483648.0);
                float value;
                std::memcpy(&value, &bits, sizeof value);
                return value;
            }
        }
    }
};

SoundFileReader::SoundFileReader() : impl_(std::make_unique<Impl>()) {}

SoundFileReader::~SoundFileReader() {
    if (impl_->fd >= 0) ::close(impl_->fd);
}

bool SoundFileReader::open(const std::string& path, std::string& error) {
    Impl& m = *impl_;
    m.fd = platform::openRegularFile(path, std::numeric_limits<uint64_t>::max(), error);
    if (m.fd < 0) {
        error = "cannot read audio file: " + error;
        return false;
    }
    m.path = path;
    if (!m.parse(error)) {
        error = "cannot read audio file: " + error;
        return false;
    }
    // A data chunk that claims more than the file holds (a file cut short, or one written
    // by a program that never came back to fill in the length) is read as far as it goes.
    std::error_code ec;
    const auto size = std::filesystem::file_size(platform::fsPath(path), ec);
    const int64_t frameBytes = int64_t{m.channels} * m.bytesPerSample;
    const auto at = ::lseek(m.fd, 0, SEEK_CUR);
    if (!ec && at >= 0 && static_cast<int64_t>(size) - at < m.frames * frameBytes) {
        m.frames = (static_cast<int64_t>(size) - at) / frameBytes;
        m.warning = "the audio file " + path + " ends early, before the end its header gives; " +
                    std::to_string(m.frames) + " frames were read";
    }
    if (m.frames > kMaxFrames) {
        error = "unsupported audio file " + path + " (" + std::to_string(m.frames) + " frames)";
        return false;
    }
    return true;
}

int SoundFileReader::sampleRate() const {
    return impl_->sampleRate;
}

int SoundFileReader::channels() const {
    return impl_->channels;
}

int64_t SoundFileReader::frames() const {
    return impl_->frames;
}

int64_t SoundFileReader::position() const {
    return impl_->position;
}

const std::string& SoundFileReader::warning() const {
    return impl_->warning;
}

int32_t SoundFileReader::read(std::span<float* const> channels, int32_t frames) {
    Impl& m = *impl_;
    const auto nc = static_cast<std::size_t>(m.channels);
    const int64_t wanted = std::min<int64_t>(frames, m.frames - m.position);
    if (m.fd < 0 || channels.size() < nc || wanted <= 0) return 0;
    const std::size_t frameBytes = nc * static_cast<std::size_t>(m.bytesPerSample);
    m.bytes.resize(static_cast<std::size_t>(wanted) * frameBytes);
    const auto got = static_cast<int64_t>(readFully(m.fd, m.bytes.data(), m.bytes.size()) / frameBytes);
    for (std::size_t f = 0; f < static_cast<std::size_t>(got); ++f)
        for (std::size_t c = 0; c < nc; ++c)
            channels[c][f] =
                m.sample(&m.bytes[f * frameBytes + c * static_cast<std::size_t>(m.bytesPerSample)]);
    m.position += got;
    if (got < wanted) {
        m.frames = m.position;
        if (m.warning.empty())
            m.warning = "the audio file " + m.path + " ends early, before the end its header gives; " +
                        std::to_string(m.position) + " frames were read";
    }
    return static_cast<int32_t>(got);
}

struct SoundFileWriter::Impl {
    platform::FileReplacement replacement;
    bool open = false;
    std::string path;
    int channels = 0;
    int sampleRate = 0;
    bool isFloat = false;
    uint64_t dataBytes = 0;
    std::vector<uint8_t> bytes;

    int bytesPerSample() const { return isFloat ? 4 : 3; }

    // The header with the sizes known so far: placeholder sizes at the start, the true ones
    // once every sample is written.
    std::array<uint8_t, 44> header() const {
        std::array<uint8_t, 44> h{};
        const auto blockAlign = static_cast<uint32_t>(channels * bytesPerSample());
        std::memcpy(h.data(), "RIFF", 4);
        putLe32(h.data() + 4, static_cast<uint32_t>(36 + dataBytes + (dataBytes & 1)));
        std::memcpy(h.data() + 8, "WAVEfmt ", 8);
        putLe32(h.data() + 16, 16);
        putLe16(h.data() + 20, isFloat ? kFloatTag : kPcmTag);
        putLe16(h.data() + 22, static_cast<uint32_t>(channels));
        putLe32(h.data() + 24, static_cast<uint32_t>(sampleRate));
        putLe32(h.data() + 28, static_cast<uint32_t>(sampleRate) * blockAlign);
        putLe16(h.data() + 32, blockAlign);
        putLe16(h.data() + 34, static_cast<uint32_t>(bytesPerSample() * 8));
        std::memcpy(h.data() + 36, "data", 4);
        putLe32(h.data() + 40, static_cast<uint32_t>(dataBytes));
        return h;
    }
};

SoundFileWriter::SoundFileWriter() : impl_(std::make_unique<Impl>()) {}

SoundFileWriter::~SoundFileWriter() = default;

bool SoundFileWriter::open(const std::string& path, int sampleRate, int channels, Container container,
                           SampleFormat format, std::string& error) {
    if (container != Container::Wav) {
        error = "cannot write " + path + ": " + kOnlyWav;
        return false;
    }
    if (channels < 1 || channels > 0xFFFF || sampleRate < 1) {
        error = "cannot write " + path + " with " + std::to_string(channels) + " channels at " +
                std::to_string(sampleRate) + " Hz";
        return false;
    }
    Impl& m = *impl_;
    if (!m.replacement.begin(path, error)) {
        error = "cannot write audio file: " + error;
        return false;
    }
    m.path = path;
    m.channels = channels;
    m.sampleRate = sampleRate;
    m.isFloat = format == SampleFormat::Float32;
    const auto h = m.header();
    if (!writeFully(m.replacement.fd(), h.data(), h.size())) {
        error = "cannot write audio file " + path;
        m.replacement.abandon();
        return false;
    }
    m.open = true;
    return true;
}

bool SoundFileWriter::write(std::span<const float* const> channels, int32_t frames, std::string& error) {
    Impl& m = *impl_;
    const auto nc = static_cast<std::size_t>(m.channels);
    if (!m.open || channels.size() != nc || frames < 0) {
        error = "internal error: audio writer used with the wrong channel count or while closed";
        return false;
    }
    const auto size = static_cast<std::size_t>(m.bytesPerSample());
    m.bytes.resize(static_cast<std::size_t>(frames) * nc * size);
    uint8_t* out = m.bytes.data();
    for (std::size_t f = 0; f < static_cast<std::size_t>(frames); ++f)
        for (std::size_t c = 0; c < nc; ++c, out += size) {
            const float v = channels[c][f];
            if (m.isFloat) {
                uint32_t bits;
                std::memcpy(&bits, &v, sizeof bits);
                putLe32(out, bits);
            } else {
                // Clipped at full scale instead of wrapping around.
                const auto s =
                    static_cast<int32_t>(std::clamp(std::lrint(double{v} * 8388608.0), -8388608L, 8388607L));
                const auto u = static_cast<uint32_t>(s);
                out[0] = static_cast<uint8_t>(u);
                out[1] = static_cast<uint8_t>(u >> 8);
                out[2] = static_cast<uint8_t>(u >> 16);
            }
        }
    // A WAV file counts its bytes in 32 bits.
    if (m.dataBytes + m.bytes.size() > 0xFFFFFFFFULL - 36) {
        error = "cannot write audio file " + m.path + ": a WAV file holds at most 4 GiB";
        return false;
    }
    if (!writeFully(m.replacement.fd(), m.bytes.data(), m.bytes.size())) {
        error = "cannot write audio file " + m.path + ": " + std::strerror(errno);
        return false;
    }
    m.dataBytes += m.bytes.size();
    return true;
}

bool SoundFileWriter::close(std::string& error) {
    Impl& m = *impl_;
    if (!m.open) return false;
    m.open = false;
    const auto h = m.header();
    const int fd = m.replacement.fd();
    if ((m.dataBytes & 1) != 0) {
        const uint8_t pad = 0;
        if (!writeFully(fd, &pad, 1)) {
            error = "cannot finish audio file " + m.path;
            m.replacement.abandon();
            return false;
        }
    }
    if (::lseek(fd, 0, SEEK_SET) != 0 || !writeFully(fd, h.data(), h.size())) {
        error = "cannot finish audio file " + m.path;
        m.replacement.abandon();
        return false;
    }
    return m.replacement.commit(error);
}

}  // namespace kf::host
