// Renders every factory preset through the built plug-in, as a host does, on the demo
// material: the spoken phrase on input A, the demo chords by MIDI and, for presets that
// vocode input B, the demo carrier (a sawtooth chord) on input B. Prints each preset's
// level, peak, stereo width, speech-following figure and 0.5-4 kHz energy share, so the
// presets can be kept alike in loudness and understandable.
//
// Usage: preset-figures [--check] PLUGIN.so [PRESET.kfn | FOLDER]...   (default: the factory presets)
// With --check the exit status tells whether the set meets the targets printed last.
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

#include "host/midi_file.h"
#include "host/render.h"
#include "host/sound_file.h"
#include "host/vst_host.h"
#include "speech_following.h"

namespace {

namespace fs = std::filesystem;
using kf::host::SoundData;

constexpr int kBlock = 512;
constexpr double kSpeechLowHz = 500.0, kSpeechHighHz = 4000.0;
constexpr uint32_t kModulatorModeId = 43;  // the stored identifier of the synthesis-input choice
constexpr uint32_t kEndOfParameters = 0xFFFFFFFFu;
constexpr std::size_t kStateHeaderWords = 9;  // container header (4) and state body header (5)

// What the factory set promises: alike in level, never near full scale, the speech kept.
constexpr double kAudibleDb = -60.0;
constexpr double kLevelSpreadDb = 4.0;
constexpr double kPeakLimitDb = -1.0;
constexpr double kDefaultFollowing = 0.55, kDefaultShareRangeDb = 8.0;
constexpr double kVoiceFollowing = 0.45;
constexpr int kEffectsAllowed = 2;  // presets meant as effects may follow the speech less
constexpr int kStereoWanted = 3, kCarrierOnBWanted = 2;

struct Figures {
    std::string name;
    bool carrierOnB = false, stereo = false;
    double rmsDb = 0, peakDb = 0, following = 0, shareDb = 0;
};

struct Material {
    SoundData voice, carrier;
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

bool measure(const std::string& pluginPath, const fs::path& preset, const Material& m, Figures& f) {
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
    const std::vector<std::span<const float>> channels{out[0], out[1]};
    f.name = preset.stem().string();
    f.carrierOnB = carrierOnB;
    f.rmsDb = dB(std::sqrt(energy / (2.0 * static_cast<double>(out[0].size()))));
    f.peakDb = dB(peak);
    f.following = kf::measure::speechFollowing(m.voice.channels[0], channels, m.voice.sampleRate);
    f.shareDb = kf::measure::bandShareDb(channels, kSpeechLowHz, kSpeechHighHz, m.voice.sampleRate);
    // Side against mid energy: how much of the stereo image the preset uses. Below -30 dB
    // the two sides differ too little to hear.
    const double widthDb = side > mid * 1e-10 ? 10.0 * std::log10(side / mid) : -100.0;
    f.stereo = widthDb > -30.0;
    const std::string width = widthDb > -100.0 ? std::to_string(std::lround(widthDb)) : "mono";
    std::printf("%-22s %-3s %8.1f %8.1f %8s %9.3f %8.1f\n", f.name.c_str(), carrierOnB ? "saw" : "-", f.rmsDb,
                f.peakDb, width.c_str(), f.following, f.shareDb);
    return true;
}

}  // namespace

// Prints whether the set meets each target; true when it meets all.
bool checkTargets(const std::vector<Figures>& all, double voiceShareDb) {
    if (all.empty()) return false;
    auto [quietest, loudest] = std::minmax_element(
        all.begin(), all.end(), [](const auto& a, const auto& b) { return a.rmsDb < b.rmsDb; });
    const double topPeak = std::max_element(all.begin(), all.end(), [](const auto& a, const auto& b) {
                               return a.peakDb < b.peakDb;
                           })->peakDb;
    const auto count = [&](auto pred) {
        return static_cast<int>(std::count_if(all.begin(), all.end(), pred));
    };
    const auto def = std::find_if(all.begin(), all.end(), [](const auto& f) { return f.name == "default"; });
    const int below = count([](const auto& f) { return f.following < kVoiceFollowing; });
    const int stereo = count([](const auto& f) { return f.stereo; });
    const int onB = count([](const auto& f) { return f.carrierOnB; });
    bool ok = true;
    auto report = [&](bool met, const char* what, const std::string& value) {
        std::printf("%s %s: %s\n", met ? "met    " : "NOT MET", what, value.c_str());
        ok = ok && met;
    };
    // A silent or non-finite preset would make every comparison below meaningless.
    const int mute = count([](const auto& f) {
        return !std::isfinite(f.rmsDb) || !std::isfinite(f.peakDb) || !std::isfinite(f.following) ||
               f.rmsDb < kAudibleDb;
    });
    report(mute == 0, "every preset sounds (finite, above -60 dBFS RMS)", std::to_string(mute) + " do not");
    char text[160];
    std::snprintf(text, sizeof text, "%.1f dB (%s to %s)", loudest->rmsDb - quietest->rmsDb,
                  quietest->name.c_str(), loudest->name.c_str());
    report(loudest->rmsDb - quietest->rmsDb <= kLevelSpreadDb, "RMS levels within 4 dB", text);
    std::snprintf(text, sizeof text, "%.1f dBFS", topPeak);
    report(topPeak <= kPeakLimitDb, "no peak above -1 dBFS", text);
    if (def == all.end()) {
        report(false, "default preset", "missing");
    } else {
        std::snprintf(text, sizeof text, "%.3f, 0.5-4 kHz share %.1f dB (voice %.1f dB)", def->following,
                      def->shareDb, voiceShareDb);
        report(def->following >= kDefaultFollowing &&
                   std::abs(def->shareDb - voiceShareDb) <= kDefaultShareRangeDb,
               "default follows >= 0.55, share within 8 dB of the voice's", text);
    }
    report(below <= kEffectsAllowed, "at most two presets follow < 0.45", std::to_string(below));
    report(stereo >= kStereoWanted, "at least three use the stereo image", std::to_string(stereo));
    report(onB >= kCarrierOnBWanted, "at least two vocode input B", std::to_string(onB));
    return ok;
}

int main(int argc, char** argv) {
    const bool check = argc > 1 && std::string(argv[1]) == "--check";
    if (check) {
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: preset-figures [--check] PLUGIN.so [PRESET.kfn | FOLDER]...\n");
        return 1;
    }
    // The plug-in reads its settings when it loads; never touch the user's.
    char settingsDir[] = "/tmp/kf-preset-figures-XXXXXX";
    if (!mkdtemp(settingsDir)) return 2;
    setenv("KESTRAFONE_SETTINGS_DIR", settingsDir, 1);

    const fs::path demo = fs::path(KF_SOURCE_DIR) / "resources/demo";
    Material m;
    std::string error;
    if (!kf::host::readSoundFile(demo / "kestrafone-voice.wav", m.voice, error) ||
        !kf::host::readSoundFile(demo / "kestrafone-carrier.wav", m.carrier, error) ||
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
    std::printf("%-22s %-3s %8s %8s %8s %9s %8s\n", "preset", "B", "RMS dB", "peak dB", "S/M dB", "following",
                "0.5-4k");
    const double voiceShareDb =
        kf::measure::bandShareDb(voice, kSpeechLowHz, kSpeechHighHz, m.voice.sampleRate);
    std::printf("%-22s %-3s %8s %8s %8s %9s %8.1f\n", "(the voice)", "", "", "", "", "", voiceShareDb);
    std::vector<Figures> all;
    int failed = 0;
    for (const auto& p : presets) {
        Figures f;
        if (measure(argv[1], p, m, f))
            all.push_back(f);
        else
            ++failed;
    }
    fs::remove_all(settingsDir);
    if (failed > 0) return 3;
    const bool met = checkTargets(all, voiceShareDb);
    return check && !met ? 4 : 0;
}
