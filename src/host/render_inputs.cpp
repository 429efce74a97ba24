#include "host/render_inputs.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kf::host {

namespace {

std::string seconds(int64_t frames, int rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(frames) / rate);
    return text;
}

}  // namespace

std::optional<std::string> RenderInputs::add(const std::string& option, const std::string& path,
                                             std::vector<int> sources) {
    File file{path, std::make_unique<SoundFileReader>(), {}, 0, false};
    std::string error;
    if (!file.reader->open(path, error)) return error;
    const int channels = file.reader->channels();
    const bool stereoAllowed = option == "--input";
    if (channels > (stereoAllowed ? 2 : 1))
        return path + " has " + std::to_string(channels) + " channels; " + option +
               (stereoAllowed ? " takes a mono or stereo file"
                              : " takes a mono file (use --input for a stereo file)");
    if (!files_.empty() && file.reader->sampleRate() != sampleRate())
        return files_[0].path + " is at " + std::to_string(sampleRate()) + " Hz but " + path + " is at " +
               std::to_string(file.reader->sampleRate()) + " Hz; resampling is not supported";
    // A mono file given to --input feeds both inputs.
    if (stereoAllowed && channels == 1) sources = {0, 0};
    file.sources = std::move(sources);
    file.declared = file.reader->frames();
    files_.push_back(std::move(file));
    return std::nullopt;
}

std::optional<std::string> RenderInputs::open(const std::string& both, const std::string& a,
                                              const std::string& b) {
    if (!both.empty()) {
        if (auto error = add("--input", both, {0, 1})) return error;
    }
    if (!a.empty()) {
        if (auto error = add("--input-a", a, {0})) return error;
    }
    if (!b.empty()) {
        if (auto error = add("--input-b", b, {-1, 0})) return error;
    }
    noteWarnings();
    // A carrier that stops early leaves the rest of the voice with nothing to shape.
    if (!a.empty() && !b.empty() && files_[1].declared < files_[0].declared)
        warnings_.push_back("input B (" + b + ", " + seconds(files_[1].declared, sampleRate()) +
                            ") is shorter than input A (" + a + ", " +
                            seconds(files_[0].declared, sampleRate()) +
                            "); input B is silence for the last " +
                            seconds(files_[0].declared - files_[1].declared, sampleRate()));
    return std::nullopt;
}

int64_t RenderInputs::declaredFrames() const {
    int64_t frames = 0;
    for (const File& f : files_) frames = std::max(frames, f.declared);
    return frames;
}

int64_t RenderInputs::knownFrames() const {
    int64_t frames = 0;
    for (const File& f : files_) frames = std::max(frames, f.reader->frames());
    return frames;
}

void RenderInputs::noteWarnings() {
    for (File& f : files_)
        if (!f.warned && !f.reader->warning().empty()) {
            warnings_.push_back(f.reader->warning());
            f.warned = true;
        }
}

std::vector<std::string> RenderInputs::takeWarnings() {
    return std::exchange(warnings_, {});
}

void RenderInputs::read(std::span<float* const> channels, int32_t frames) {
    for (File& f : files_) {
        block_.resize(static_cast<std::size_t>(f.reader->channels()));
        std::vector<float*> at;
        for (auto& c : block_) {
            c.resize(static_cast<std::size_t>(frames));
            at.push_back(c.data());
        }
        const int32_t got = f.reader->read(at, frames);
        for (std::size_t i = 0; i < f.sources.size() && i < channels.size(); ++i)
            if (f.sources[i] >= 0)
                std::copy_n(block_[static_cast<std::size_t>(f.sources[i])].begin(), got, channels[i]);
    }
    noteWarnings();
}

std::vector<std::vector<float>> RenderInputs::readAll() {
    std::vector<std::vector<float>> all(2, std::vector<float>(static_cast<std::size_t>(declaredFrames())));
    constexpr int32_t kBlock = 4096;
    for (int64_t pos = 0; pos < declaredFrames(); pos += kBlock) {
        float* at[2] = {all[0].data() + pos, all[1].data() + pos};
        read(at, static_cast<int32_t>(std::min<int64_t>(kBlock, declaredFrames() - pos)));
    }
    for (auto& c : all) c.resize(static_cast<std::size_t>(knownFrames()));
    return all;
}

}  // namespace kf::host
