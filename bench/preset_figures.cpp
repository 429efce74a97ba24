// Renders every factory preset through the built plug-in, as a host does, on the demo
// material: the spoken phrase on input A, the demo chords by MIDI and, for presets that
// vocode input B, the demo carrier (a sawtooth chord) on input B. Prints each preset's
// level, peak, stereo width, speech-following figure and 0.5-4 kHz energy share, so the
// presets can be kept alike in loudness and understandable.
//
// Usage: preset-figures PLUGIN.so [PRESET.kfn | FOLDER]...   (default: the factory presets)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/audio_file.h"
#include "host/midi_file.h"
#include "host/render.h"
#include "host/vst_host.h"
#include "speech_following.h"

namespace {

namespace fs = std::filesystem;
using kf::host::AudioData;

constexpr int kBlock = 512;
constexpr double kSpeechLowHz = 500.0, kSpeechHighHz = 4000.0;
constexpr uint32_t kModulatorModeId = 43;  // the stored identifier of the synthesis-input choice
constexpr uint32_t kEndOfParameters = 0xFFFFFFFFu;
constexpr std::size_t kStateHeaderWords = 9;  // container header (4) and state body header (5)

struct Material {
    AudioData voice, carrier;
    kf::host::MidiFileContents midi;
};

std::vector<uint8_t> readBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The stored normalised value under `id` in a state chunk's parameter list, or -1.
float storedValue(const std::vector<uint8_t>& chunk, uint32_t id) {
    std::vector<uint32_t> words(chunk.size() / 4);
    std::memcpy(words.data(), chunk.data(), words.size() * 4);
    for (std::size_t i = kStateHeaderWords; i + 1 < words.size() && words[i] != kEndOfParameters;) {
        const std::size_t count = words[i + 1];
        if (words[i] == id && count == 1 && i + 2 < words.size()) {
            float value;
            std::memcpy(&value, &words[i + 2], sizeof value);
            return value;
        }
        i += 2 + count;
    }
    return -1.0f;
}

double dB(double x) {
    return 20.0 * std::log10(std::max(x, 1e-12));
}

bool measure(const std::string& pluginPath, const fs::path& preset, const Material& m) {
    const std::vector<uint8_t> state = readBytes(preset);
    // Synthesis input B: choice 1 of three, normalised 1/3 up to 2/3.
    const float mode = storedValue(state, kModulatorModeId);
    const bool carrierOnB = mode >= 1.0f / 3.0f - 0.001f && mode < 2.0f / 3.0f - 0.001f;

    std::string error;
    auto plugin = kf::host::Plugin::load(pluginPath, {}, error);
    if (!plugin) {
        std::fprintf(stderr, "preset-figures: %s\n", error.c_str());
        return false;
    }
    plugin->setSampleRate(m.voice.sampleRate);
    plugin->setBlockSize(kBlock);
    if (state.empty() || plugin->setChunk(state) == 0) {
        std::fprintf(stderr, "preset-figures: the plug-in did not accept %s\n", preset.c_str());
        return false;
    }
    std::vector<std::vector<float>> inputs{m.voice.channels[0]};
    if (carrierOnB) inputs.push_back(m.carrier.channels[0]);
    kf::host::RenderSettings settings;
    settings.sampleRate = m.voice.sampleRate;
    settings.blockSize = kBlock;
    settings.tempoMap = m.midi.tempoMap;
    std::vector<std::vector<float>> out;
    if (!kf::host::render(*plugin, inputs, m.voice.frames(), out, settings, m.midi.events, error)) {
        std::fprintf(stderr, "preset-figures: %s: %s\n", preset.c_str(), error.c_str());
        return false;
    }

    double energy = 0.0, peak = 0.0, mid = 0.0, side = 0.0;
    for (std::size_t i = 0; i < out[0].size(); ++i) {
        const double l = out[0][i], r = out[1][i];
        energy += l * l + r * r;
        peak = std::max({peak, std::abs(l), std::abs(r)});
        mid += (l + r) * (l + r);
        side += (l - r) * (l - r);
    }
    const double rms = std::sqrt(energy / (2.0 * static_cast<double>(out[0].size())));
    const std::vector<std::span<const float>> channels{out[0], out[1]};
    // Side against mid energy: how much of the stereo image the preset uses.
    const std::string width =
        side <= mid * 1e-10 ? "mono" : std::to_string(std::lround(10.0 * std::log10(side / mid)));
    std::printf("%-18s %-3s %8.1f %8.1f %8s %9.3f %8.1f\n", preset.stem().c_str(), carrierOnB ? "saw" : "-",
                dB(rms), dB(peak), width.c_str(),
                kf::measure::speechFollowing(m.voice.channels[0], channels, m.voice.sampleRate),
                kf::measure::bandShareDb(channels, kSpeechLowHz, kSpeechHighHz, m.voice.sampleRate));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: preset-figures PLUGIN.so [PRESET.kfn | FOLDER]...\n");
        return 1;
    }
    // The plug-in reads its settings when it loads; never touch the user's.
    char settingsDir[] = "/tmp/kf-preset-figures-XXXXXX";
    if (!mkdtemp(settingsDir)) return 2;
    setenv("KESTRAFONE_SETTINGS_DIR", settingsDir, 1);

    const fs::path demo = fs::path(KF_SOURCE_DIR) / "resources/demo";
    Material m;
    std::string error;
    if (!kf::host::readAudioFile(demo / "kestrafone-voice.wav", m.voice, error) ||
        !kf::host::readAudioFile(demo / "kestrafone-carrier.wav", m.carrier, error) ||
        !kf::host::readMidiFile(demo / "kestrafone-chords.mid", m.voice.sampleRate, std::nullopt, m.midi,
                                error)) {
        std::fprintf(stderr, "preset-figures: %s\n", error.c_str());
        return 2;
    }

    std::vector<fs::path> presets;
    std::vector<fs::path> sources;
    for (int i = 2; i < argc; ++i) sources.emplace_back(argv[i]);
    if (sources.empty()) sources.push_back(fs::path(KF_SOURCE_DIR) / "resources/presets");
    for (const auto& s : sources) {
        if (!fs::is_directory(s)) {
            presets.push_back(s);
            continue;
        }
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(s))
            if (e.path().extension() == ".kfn") found.push_back(e.path());
        std::sort(found.begin(), found.end());
        presets.insert(presets.end(), found.begin(), found.end());
    }

    const std::vector<std::span<const float>> voice{m.voice.channels[0]};
    std::printf(
        "Presets on the demo voice (input A) with the demo chords; 'saw': the demo carrier on input B\n");
    std::printf("%-18s %-3s %8s %8s %8s %9s %8s\n", "preset", "B", "RMS dB", "peak dB", "S/M dB", "following",
                "0.5-4k");
    std::printf("%-18s %-3s %8s %8s %8s %9s %8.1f\n", "(the voice)", "", "", "", "", "",
                kf::measure::bandShareDb(voice, kSpeechLowHz, kSpeechHighHz, m.voice.sampleRate));
    int failed = 0;
    for (const auto& p : presets) failed += measure(argv[1], p, m) ? 0 : 1;
    fs::remove_all(settingsDir);
    return failed == 0 ? 0 : 3;
}
