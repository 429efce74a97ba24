// Renders presets through the built plug-in, as a host does, and prints each one's level,
// peak, stereo width, speech-following figure and 0.5-4 kHz energy share, so presets can be
// kept alike in loudness and understandable. The voice is on input A, the demo chords arrive
// by MIDI and, for presets that vocode input B, the demo carrier (a sawtooth chord) is on
// input B. Every figure is taken on the mono sum of the output.
//
// Usage: preset-figures [--check] PLUGIN.so [PRESET.kfn | FOLDER]...
//          the demo material (resources/demo)
//        preset-figures --voices DIR [--check] PLUGIN.so [PRESET.kfn | FOLDER]...
//          every voice in DIR (made by scripts/make-speech-voices) beside the open-source
//          peer vocoders' renders found there
// Without presets: the factory presets. The factory set's targets are printed after the
// figures; with --check the exit status tells whether they are met.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <sstream>
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

// What the factory set promises on every voice: alike in level and never near full scale, so
// a user can step through the presets without touching the master level; the speech kept by
// every preset but the effects; a stereo image in some, input B as the carrier in others.
constexpr double kAudibleDb = -60.0;
constexpr double kLevelSpreadDb = 3.0;
constexpr double kPeakLimitDb = -1.0;
constexpr double kVoiceFollowing = 0.65;
constexpr const char* kEffectPresets[] = {"Lo-Fi Radio"};  // the manual presents these as effects
constexpr int kStereoWanted = 3, kCarrierOnBWanted = 2;

// What the two presets made for plain speech promise: they follow the speech at least as
// well as the open-source vocoders do on the same voices with the sawtooth carrier; the aims
// beyond that are printed but not required.
constexpr const char* kSpeakingPresets[] = {"default", "External Carrier"};
constexpr double kMeanFollowing = 0.73, kMeanFollowingAim = 0.75;
constexpr double kShareAimDb = 6.0;
constexpr const char* kMustPeer = "calf";

// The peers' renders in a voice folder are named <peer>-<voice>.wav.
struct Peer {
    const char* id;
    const char* title;
};
constexpr Peer kPeers[] = {{"mda", "mda Vocoder, 16 bands"}, {"calf", "Calf Vocoder, 16 bands"}};

struct Figures {
    double rmsDb = 0, peakDb = 0, widthDb = -100, following = 0, shareDb = 0;
    bool stereo() const { return widthDb > -30.0; }
};

struct Voice {
    std::string name, role = "tuning", source;
    SoundData audio;
    double shareDb = 0;
    std::vector<float> carrier;                    // the sawtooth chord, as long as the voice
    std::vector<kf::host::TimedMidiEvent> chords;  // the demo progression covering the voice
    std::vector<kf::host::TempoChange> tempoMap;
    std::vector<std::pair<std::string, Figures>> peers;  // (peer id, figures), found ones only
};

struct PresetResult {
    std::string name;
    bool carrierOnB = false;
    std::vector<Figures> perVoice;  // in voice order
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

Figures figuresOf(const std::vector<float>& left, const std::vector<float>& right, const Voice& v) {
    Figures f;
    double energy = 0.0, peak = 0.0, mid = 0.0, side = 0.0;
    const std::size_t n = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < n; ++i) {
        const double l = left[i], r = right[i];
        energy += l * l + r * r;
        peak = std::max({peak, std::abs(l), std::abs(r)});
        mid += (l + r) * (l + r);
        side += (l - r) * (l - r);
    }
    const std::vector<float> mono = kf::measure::monoSum(left, right);
    const double rate = v.audio.sampleRate;
    f.rmsDb = dB(std::sqrt(energy / (2.0 * static_cast<double>(std::max<std::size_t>(n, 1)))));
    f.peakDb = dB(peak);
    f.following = kf::measure::speechFollowing(v.audio.channels[0], mono, rate);
    f.shareDb = kf::measure::bandShareDb(mono, kSpeechLowHz, kSpeechHighHz, rate);
    // Side against mid energy: how much of the stereo image the output uses. Below -30 dB
    // the two sides differ too little to hear.
    if (side > mid * 1e-10) f.widthDb = 10.0 * std::log10(side / mid);
    return f;
}

bool renderPreset(const std::string& pluginPath, const std::vector<uint8_t>& state, bool carrierOnB,
                  const Voice& v, Figures& f, std::string& error) {
    auto plugin = kf::host::Plugin::load(pluginPath, {}, error);
    if (!plugin) return false;
    plugin->setSampleRate(v.audio.sampleRate);
    plugin->setBlockSize(kBlock);
    if (state.empty() || plugin->setChunk(state) == 0) {
        error = "the plug-in did not accept the preset";
        return false;
    }
    std::vector<std::vector<float>> inputs{v.audio.channels[0]};
    if (carrierOnB) inputs.push_back(v.carrier);
    kf::host::RenderSettings settings;
    settings.sampleRate = v.audio.sampleRate;
    settings.blockSize = kBlock;
    settings.tempoMap = v.tempoMap;
    std::vector<std::vector<float>> out;
    if (!kf::host::render(*plugin, inputs, v.audio.frames(), out, settings, v.chords, error)) return false;
    f = figuresOf(out[0], out[1], v);
    return true;
}

// The voice file, a carrier cut to its length and the chord progression.
bool loadVoice(Voice& v, const fs::path& voice, const fs::path& carrier, const fs::path& chords,
               std::string& error) {
    SoundData saw;
    kf::host::MidiFileContents midi;
    if (!kf::host::readSoundFile(voice, v.audio, error) || !kf::host::readSoundFile(carrier, saw, error) ||
        !kf::host::readMidiFile(chords, v.audio.sampleRate, std::nullopt, midi, error))
        return false;
    v.carrier = saw.channels[0];
    v.carrier.resize(v.audio.channels[0].size(), 0.0f);
    v.chords = std::move(midi.events);
    v.tempoMap = std::move(midi.tempoMap);
    v.shareDb =
        kf::measure::bandShareDb(v.audio.channels[0], kSpeechLowHz, kSpeechHighHz, v.audio.sampleRate);
    return true;
}

// The voices of a folder made by scripts/make-speech-voices (listed in its voices.txt), each
// with the peers' renders found beside it.
bool loadVoiceSet(const fs::path& dir, std::vector<Voice>& voices, std::string& error) {
    std::ifstream list(dir / "voices.txt");
    if (!list) {
        error = (dir / "voices.txt").string() + " is missing (scripts/make-speech-voices makes it)";
        return false;
    }
    for (std::string line; std::getline(list, line);) {
        Voice v;
        std::string gender;
        if (!(std::istringstream(line) >> v.name >> v.role >> v.source >> gender)) continue;
        v.source += ", " + gender;
        if (!loadVoice(v, dir / (v.name + ".wav"), dir / "carrier.wav", dir / "chords.mid", error))
            return false;
        for (const Peer& peer : kPeers) {
            SoundData out;
            std::string ignored;
            if (!kf::host::readSoundFile(dir / (std::string(peer.id) + "-" + v.name + ".wav"), out,
                                         ignored) ||
                out.channels.size() < 2)
                continue;
            v.peers.emplace_back(peer.id, figuresOf(out.channels[0], out.channels[1], v));
        }
        voices.push_back(std::move(v));
    }
    if (voices.empty()) error = "no voices listed in " + (dir / "voices.txt").string();
    return !voices.empty();
}

const char* peerTitle(const std::string& id) {
    for (const Peer& p : kPeers)
        if (id == p.id) return p.title;
    return id.c_str();
}

const Figures* peerFigures(const Voice& v, const std::string& id) {
    for (const auto& [name, f] : v.peers)
        if (name == id) return &f;
    return nullptr;
}

void printRow(const std::string& name, const char* input, const Figures& f) {
    const std::string width = f.widthDb > -100.0 ? std::to_string(std::lround(f.widthDb)) : "mono";
    std::printf("%-28s %-3s %8.1f %8.1f %8s %9.3f %8.1f\n", name.c_str(), input, f.rmsDb, f.peakDb,
                width.c_str(), f.following, f.shareDb);
}

void printHeader(const Voice& v) {
    std::printf("\n== %s (%s; %s): the voice's 0.5-4 kHz share %.1f dB\n", v.name.c_str(), v.role.c_str(),
                v.source.c_str(), v.shareDb);
    std::printf("%-28s %-3s %8s %8s %8s %9s %8s\n", "preset", "B", "RMS dB", "peak dB", "S/M dB", "following",
                "0.5-4k");
}

double mean(const std::vector<double>& x) {
    return x.empty() ? 0.0 : std::accumulate(x.begin(), x.end(), 0.0) / static_cast<double>(x.size());
}

// One line per system: its figure on every voice and the means over the tuning voices, the
// checking voices and all.
void printSummary(const std::vector<Voice>& voices, const std::vector<PresetResult>& results) {
    std::printf("\n== speech following per voice (mono sum)\n%-28s", "system");
    for (const Voice& v : voices) std::printf(" %9.9s", v.name.c_str());
    std::printf(" %7s %8s %6s\n", "tuning", "checking", "mean");
    auto line = [&](const std::string& name, auto figureOf) {
        std::vector<double> tuning, checking, all;
        std::printf("%-28.28s", name.c_str());
        for (std::size_t i = 0; i < voices.size(); ++i) {
            const Figures* f = figureOf(i);
            if (!f) {
                std::printf(" %9s", "-");
                continue;
            }
            std::printf(" %9.3f", f->following);
            (voices[i].role == "checking" ? checking : tuning).push_back(f->following);
            all.push_back(f->following);
        }
        std::printf(" %7.3f %8.3f %6.3f\n", mean(tuning), mean(checking), mean(all));
    };
    for (const PresetResult& r : results) line(r.name, [&](std::size_t i) { return &r.perVoice[i]; });
    for (const Peer& p : kPeers) line(p.title, [&](std::size_t i) { return peerFigures(voices[i], p.id); });
}

struct Report {
    bool ok = true;
    void operator()(bool met, const std::string& what, const std::string& value) {
        std::printf("%s %s: %s\n", met ? "met    " : "NOT MET", what.c_str(), value.c_str());
        ok = ok && met;
    }
    static void aim(bool met, const std::string& what, const std::string& value) {
        std::printf("%s %s: %s\n", met ? "aim met" : "aim not met", what.c_str(), value.c_str());
    }
};

std::string format(const char* fmt, double a, double b = 0.0) {
    char text[160];
    std::snprintf(text, sizeof text, fmt, a, b);
    return text;
}

template <class List>
bool listed(const List& names, const std::string& name) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// A speaking preset's targets over the voice set. They are set beside the peers, so on the
// demo phrase alone (a short one, with no peer renders) they are printed as aims only.
void checkSpeaking(const std::vector<Voice>& voices, const PresetResult& r, bool voiceSet, Report& report) {
    std::vector<double> figures;
    std::string belowMust, belowBoth, shareOff;
    for (std::size_t i = 0; i < voices.size(); ++i) {
        const Figures& f = r.perVoice[i];
        figures.push_back(f.following);
        const Figures* must = peerFigures(voices[i], kMustPeer);
        if (!must || f.following < must->following) belowMust += " " + voices[i].name;
        for (const auto& [id, peer] : voices[i].peers)
            if (f.following <= peer.following) {
                belowBoth += " " + voices[i].name + "(" + id + ")";
                break;
            }
        if (std::abs(f.shareDb - voices[i].shareDb) > kShareAimDb) shareOff += " " + voices[i].name;
    }
    if (voiceSet) {
        const double m = mean(figures);
        report(m >= kMeanFollowing, r.name + ": mean following >= 0.73", format("%.3f", m));
        report(belowMust.empty(), r.name + ": at least the Calf figure on every voice",
               belowMust.empty()
                   ? "all voices"
                   : "below (or no Calf render, which needs lilv-utils and calf-plugins) on" + belowMust);
        Report::aim(m >= kMeanFollowingAim, r.name + ": mean following >= 0.75", format("%.3f", m));
        Report::aim(belowBoth.empty() && voices.front().peers.size() == std::size(kPeers),
                    r.name + ": above both peers on every voice",
                    belowBoth.empty() ? "all voices" : belowBoth);
    }
    Report::aim(shareOff.empty(), r.name + ": 0.5-4 kHz share within 6 dB of the voice's",
                shareOff.empty() ? "all voices" : "off on" + shareOff);
}

// The factory set's targets on every voice; true when every required one is met.
// voiceSet: the voices are the speech set (with the peers' renders), not the demo phrase.
bool checkFactorySet(const std::vector<Voice>& voices, const std::vector<PresetResult>& all, bool voiceSet) {
    if (all.empty()) return false;
    Report report;
    const auto count = [&](auto pred) {
        return static_cast<int>(std::count_if(all.begin(), all.end(), pred));
    };
    // A silent or non-finite preset would make every comparison below meaningless.
    const int mute = count([](const PresetResult& r) {
        return std::any_of(r.perVoice.begin(), r.perVoice.end(), [](const Figures& f) {
            return !std::isfinite(f.rmsDb) || !std::isfinite(f.peakDb) || !std::isfinite(f.following) ||
                   f.rmsDb < kAudibleDb;
        });
    });
    report(mute == 0, "every preset sounds on every voice (finite, above -60 dBFS RMS)",
           std::to_string(mute) + " do not");
    for (std::size_t i = 0; i < voices.size(); ++i) {
        const auto byRms = [i](const auto& a, const auto& b) {
            return a.perVoice[i].rmsDb < b.perVoice[i].rmsDb;
        };
        const auto [quietest, loudest] = std::minmax_element(all.begin(), all.end(), byRms);
        const auto peakiest = std::max_element(all.begin(), all.end(), [i](const auto& a, const auto& b) {
            return a.perVoice[i].peakDb < b.perVoice[i].peakDb;
        });
        const double spread = loudest->perVoice[i].rmsDb - quietest->perVoice[i].rmsDb;
        report(spread <= kLevelSpreadDb, voices[i].name + ": RMS levels within 3 dB",
               format("%.1f dB", spread) + " (" + quietest->name + " to " + loudest->name + ")");
        report(peakiest->perVoice[i].peakDb <= kPeakLimitDb, voices[i].name + ": no peak above -1 dBFS",
               format("%.1f dBFS", peakiest->perVoice[i].peakDb) + " (" + peakiest->name + ")");
    }
    std::string following;
    for (const PresetResult& r : all) {
        const double lowest =
            std::min_element(r.perVoice.begin(), r.perVoice.end(), [](const auto& a, const auto& b) {
                return a.following < b.following;
            })->following;
        if (!listed(kEffectPresets, r.name) && lowest < kVoiceFollowing) following += " " + r.name;
    }
    report(following.empty(), "every voice preset follows >= 0.65 on every voice",
           following.empty() ? "all" : "not" + following);
    const int stereo = count([](const PresetResult& r) {
        return std::all_of(r.perVoice.begin(), r.perVoice.end(), [](const Figures& f) { return f.stereo(); });
    });
    report(stereo >= kStereoWanted, "at least three use the stereo image", std::to_string(stereo));
    const int onB = count([](const auto& r) { return r.carrierOnB; });
    report(onB >= kCarrierOnBWanted, "at least two vocode input B", std::to_string(onB));
    for (const char* name : kSpeakingPresets) {
        const auto r = std::find_if(all.begin(), all.end(), [&](const auto& p) { return p.name == name; });
        if (r == all.end())
            report(false, name, "missing");
        else
            checkSpeaking(voices, *r, voiceSet, report);
    }
    return report.ok;
}

std::vector<fs::path> presetFiles(const std::vector<fs::path>& sources) {
    std::vector<fs::path> presets;
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
    return presets;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool check = false;
    fs::path voiceDir;
    while (!args.empty() && args[0].starts_with("--")) {
        if (args[0] == "--check") {
            check = true;
        } else if (args[0] == "--voices" && args.size() > 1) {
            voiceDir = args[1];
            args.erase(args.begin());
        } else {
            break;
        }
        args.erase(args.begin());
    }
    if (args.empty() || args[0].starts_with("--")) {
        std::fprintf(stderr,
                     "usage: preset-figures [--voices DIR] [--check] PLUGIN.so [PRESET.kfn | FOLDER]...\n");
        return 1;
    }
    // The plug-in reads its settings when it loads; never touch the user's.
    char settingsDir[] = "/tmp/kf-preset-figures-XXXXXX";
    if (!mkdtemp(settingsDir)) return 2;
    setenv("KESTRAFONE_SETTINGS_DIR", settingsDir, 1);

    std::vector<Voice> voices;
    std::string error;
    const fs::path demo = fs::path(KF_SOURCE_DIR) / "resources/demo";
    if (!voiceDir.empty()) {
        if (!loadVoiceSet(voiceDir, voices, error)) {
            std::fprintf(stderr, "preset-figures: %s\n", error.c_str());
            return 2;
        }
    } else {
        Voice v;
        v.name = "demo";
        v.source = "the demo phrase";
        if (!loadVoice(v, demo / "kestrafone-voice.wav", demo / "kestrafone-carrier.wav",
                       demo / "kestrafone-chords.mid", error)) {
            std::fprintf(stderr, "preset-figures: %s\n", error.c_str());
            return 2;
        }
        voices.push_back(std::move(v));
    }

    std::vector<fs::path> sources(args.begin() + 1, args.end());
    if (sources.empty()) sources.push_back(fs::path(KF_SOURCE_DIR) / "resources/presets");
    std::vector<PresetResult> results;
    for (const auto& p : presetFiles(sources)) {
        const std::vector<uint8_t> state = readBytes(p);
        // Synthesis input B: choice 1 of three, normalised 1/3 up to 2/3.
        const float mode = storedValue(state, kModulatorModeId);
        PresetResult r{p.stem().string(), mode >= 1.0f / 3.0f - 0.001f && mode < 2.0f / 3.0f - 0.001f, {}};
        for (const Voice& v : voices) {
            Figures f;
            if (!renderPreset(args[0], state, r.carrierOnB, v, f, error)) {
                std::fprintf(stderr, "preset-figures: %s on %s: %s\n", p.c_str(), v.name.c_str(),
                             error.c_str());
                fs::remove_all(settingsDir);
                return 3;
            }
            r.perVoice.push_back(f);
        }
        results.push_back(std::move(r));
    }
    fs::remove_all(settingsDir);

    std::printf("Voice on input A, the demo chords by MIDI; 'saw': the demo sawtooth chord on input B\n");
    for (std::size_t i = 0; i < voices.size(); ++i) {
        printHeader(voices[i]);
        for (const PresetResult& r : results) printRow(r.name, r.carrierOnB ? "saw" : "-", r.perVoice[i]);
        for (const auto& [id, f] : voices[i].peers) printRow(peerTitle(id), "saw", f);
    }
    std::printf("\n");
    if (!voiceDir.empty()) printSummary(voices, results);
    const bool met = checkFactorySet(voices, results, !voiceDir.empty());
    return check && !met ? 4 : 0;
}
