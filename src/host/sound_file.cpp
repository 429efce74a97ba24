#include "host/sound_file.h"

#include <algorithm>
#include <cctype>

namespace kf::host {

bool readSoundFile(const std::string& path, SoundData& out, std::string& error, std::string* warning) {
    SoundFileReader reader;
    if (!reader.open(path, error)) return false;
    out.sampleRate = reader.sampleRate();
    out.channels.assign(static_cast<std::size_t>(reader.channels()),
                        std::vector<float>(static_cast<std::size_t>(reader.frames())));
    constexpr int32_t kBlock = 4096;
    std::vector<float*> at(out.channels.size());
    for (;;) {
        for (std::size_t c = 0; c < at.size(); ++c) at[c] = out.channels[c].data() + reader.position();
        if (reader.read(at, kBlock) == 0) break;
    }
    for (auto& c : out.channels) c.resize(static_cast<std::size_t>(reader.position()));
    if (warning) *warning = reader.warning();
    return true;
}

std::optional<Container> containerForPath(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "wav") return Container::Wav;
    if (ext == "aif" || ext == "aiff") return Container::Aiff;
    if (ext == "flac") return Container::Flac;
    if (ext == "ogg" || ext == "oga") return Container::Ogg;
    return std::nullopt;
}

bool writeSoundFile(const std::string& path, const SoundData& data, Container container, SampleFormat format,
                    std::string& error) {
    SoundFileWriter writer;
    if (!writer.open(path, data.sampleRate, static_cast<int>(data.channels.size()), container, format, error))
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
