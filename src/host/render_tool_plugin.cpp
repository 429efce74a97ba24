#include "host/render_tool_plugin.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <utility>

#include "platform/safe_files.h"
#include "state/sample_record.h"

namespace kf::host {

namespace {

std::vector<int32_t> chunkWords(const std::vector<uint8_t>& bytes) {
    std::vector<int32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), words.size() * 4);
    return words;
}

// The sample the plug-in's state refers to; nothing when the state has no sampler record.
std::optional<samplerecord::Reference> sampleOf(Plugin& plugin) {
    const std::vector<int32_t> words = chunkWords(plugin.getChunk());
    const auto place = samplerecord::find(words);
    if (!place) return std::nullopt;
    return samplerecord::decode(place->payload);
}

bool isReadable(const std::string& path, std::string& error) {
    const int fd = platform::openRegularFile(path, std::numeric_limits<uint64_t>::max(), error);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// A restored state that names a sample file that is gone renders with an empty sampler,
// as a host would; say which file.
void warnAboutMissingSample(Plugin& plugin) {
    const auto sample = sampleOf(plugin);
    if (!sample || sample->path.empty() || sample->path == samplerecord::kNoSamplePath) return;
    std::string error;
    if (isReadable(sample->path, error)) return;
    std::fprintf(
        stderr,
        "kestrafone-render: warning: the state's sample file is not there (%s); the sampler is empty\n",
        error.c_str());
}

}  // namespace

std::optional<Failure> restoreState(Plugin& plugin, const std::vector<uint8_t>& state,
                                    const std::string& file) {
    if (!(plugin.flags() & vst::effFlagsProgramChunks))
        return Failure{kExitPlugin,
                       plugin.path() + " does not take its state as a chunk; --state cannot restore it"};
    if (plugin.setChunk(state) == 0)
        return Failure{kExitPlugin, plugin.path() + " did not accept the state in " + file};
    warnAboutMissingSample(plugin);
    return std::nullopt;
}

// The record names the file with a frame count no file can have: a load replaces it with
// the file's own, a failed load keeps it, which is how the state tells the two apart. The
// plug-in accepts a state whose sample it cannot read (as for a project whose sample went
// missing), so its answer alone does not tell.
std::optional<Failure> loadSample(Plugin& plugin, const std::string& file) {
    constexpr int32_t kNotLoaded = std::numeric_limits<int32_t>::max();
    std::error_code ec;
    const std::string path = std::filesystem::absolute(file, ec).string();
    std::string error;
    if (ec || !isReadable(path, error))
        return Failure{kExitFile, "cannot read the sample file: " + (ec ? file : error)};
    const std::vector<int32_t> words = chunkWords(plugin.getChunk());
    const auto place = samplerecord::find(words);
    if (!place) return Failure{kExitPlugin, "the plug-in's state holds no sampler record; is it Kestrafone?"};
    // Not embedded, markers 0 and 0, no loop.
    const std::vector<int32_t> record = samplerecord::encode({kNotLoaded, 0, 0, false, path});
    const std::vector<int32_t> edited = samplerecord::replace(words, *place, record);
    std::vector<uint8_t> chunk(edited.size() * 4);
    std::memcpy(chunk.data(), edited.data(), chunk.size());
    if (plugin.setChunk(chunk) == 0)
        return Failure{kExitPlugin, "the plug-in did not accept the sample " + file};
    const auto after = sampleOf(plugin);
    if (!after || after->frames == kNotLoaded || after->frames == 0)
        return Failure{kExitFile, "the plug-in could not load " + file +
                                      " as a sample (a 16- or 24-bit PCM WAV or AIFF file, mono or stereo)"};
    return std::nullopt;
}

std::optional<std::string> saveState(Plugin& plugin, const std::string& path) {
    if (!(plugin.flags() & vst::effFlagsProgramChunks))
        return "the plug-in does not save its state as a chunk";
    // Name the state after its file, as loading a preset file does (within the 24 bytes
    // hosts give program names).
    std::string title = std::filesystem::path(path).stem().string().substr(0, 23);
    plugin.dispatch(vst::effSetProgramName, 0, 0, title.data());
    const std::vector<uint8_t> chunk = plugin.getChunk();
    if (chunk.empty()) return "the plug-in gave an empty state";
    std::string error;
    if (!platform::replaceFile(path, chunk, error)) return error;
    return std::nullopt;
}

// Resolves each NAME=VALUE against the plug-in's parameter names and applies it.
std::optional<std::string> applySets(Plugin& plugin, const std::vector<std::string>& sets) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < plugin.numParams(); ++i) names.push_back(plugin.parameterName(i));

    for (const std::string& set : sets) {
        const auto eq = set.rfind('=');
        if (eq == std::string::npos || eq == 0) return "--set needs NAME=VALUE, not '" + set + "'";
        const std::string name = set.substr(0, eq), text = set.substr(eq + 1);
        const auto value = parseReal(text);
        if (!value || *value < 0.0 || *value > 1.0)
            return "--set " + name + ": the value must be a normalised number from 0 to 1, not '" + text +
                   "'";

        std::vector<int32_t> matches;
        if (const auto index = parseInteger(name)) {
            if (*index < 0 || *index >= plugin.numParams())
                return "--set: parameter index " + name + " is outside 0.." +
                       std::to_string(plugin.numParams() - 1);
            matches.push_back(static_cast<int32_t>(*index));
        } else {
            for (std::size_t i = 0; i < names.size(); ++i)
                if (names[i] == name) matches.push_back(static_cast<int32_t>(i));
        }
        if (matches.empty())
            return "--set: the plug-in has no parameter named '" + name + "' (--info lists them)";
        if (matches.size() > 1) {
            std::string list;
            for (const int32_t m : matches) list += (list.empty() ? "" : ", ") + std::to_string(m);
            return "--set: the parameter name '" + name + "' is ambiguous; it names indices " + list +
                   "; use the index instead (e.g. --set " + std::to_string(matches[0]) + "=" + text + ")";
        }
        plugin.setParameter(matches[0], static_cast<float>(*value));
    }
    return std::nullopt;
}

void printInfo(Plugin& plugin) {
    static constexpr const char* kCategories[] = {"Unknown",     "Effect",         "Synth",  "Analysis",
                                                  "Mastering",   "Spacializer",    "RoomFx", "SurroundFx",
                                                  "Restoration", "OfflineProcess", "Shell",  "Generator"};
    static constexpr std::pair<int32_t, const char*> kFlags[] = {{1 << 0, "HasEditor"},
                                                                 {1 << 1, "HasClip"},
                                                                 {1 << 2, "HasVu"},
                                                                 {1 << 3, "CanMono"},
                                                                 {1 << 4, "CanReplacing"},
                                                                 {1 << 5, "ProgramChunks"},
                                                                 {1 << 8, "IsSynth"},
                                                                 {1 << 9, "NoSoundInStop"},
                                                                 {1 << 10, "ExtIsAsync"},
                                                                 {1 << 11, "ExtHasBuffer"},
                                                                 {1 << 12, "CanDoubleReplacing"}};
    static constexpr const char* kCanDo[] = {"receiveVstEvents",   "receiveVstMidiEvent",
                                             "receiveVstTimeInfo", "sendVstEvents",
                                             "sendVstMidiEvent",   "offline",
                                             "midiProgramNames",   "bypass",
                                             "hasAboutScreen"};

    const int32_t category = plugin.category();
    std::string flags;
    for (const auto& [bit, name] : kFlags)
        if (plugin.flags() & bit) flags += std::string(flags.empty() ? "" : " ") + name;

    std::printf("Plug-in:        %s\n", plugin.path().c_str());
    std::printf("Entry point:    %s\n", plugin.entryName().c_str());
    std::printf("Effect name:    %s\n", plugin.effectName().c_str());
    std::printf("Vendor:         %s\n", plugin.vendorString().c_str());
    std::printf("Product:        %s\n", plugin.productString().c_str());
    std::printf("Vendor version: %d\n", plugin.vendorVersion());
    std::printf("VST version:    %d\n", plugin.vstVersion());
    std::printf("Category:       %d (%s)\n", category,
                category >= 0 && category < 12 ? kCategories[category] : "not a known category");
    std::printf("Unique ID:      '%s' (0x%08x)\n", kf::host::fourCharCode(plugin.uniqueId()).c_str(),
                static_cast<uint32_t>(plugin.uniqueId()));
    std::printf("Inputs:         %d\n", plugin.numInputs());
    std::printf("Outputs:        %d\n", plugin.numOutputs());
    std::printf("Parameters:     %d\n", plugin.numParams());
    std::printf("Programs:       %d\n", plugin.numPrograms());
    std::printf("Initial delay:  %d\n", plugin.initialDelay());
    std::printf("Flags:          0x%x (%s)\n", static_cast<uint32_t>(plugin.flags()), flags.c_str());
    std::printf("Can do:\n");
    for (const char* what : kCanDo) {
        const int32_t a = plugin.canDo(what);
        std::printf("  %-22s %s\n", what, a > 0 ? "yes" : a < 0 ? "no" : "don't know");
    }
    std::printf("Parameters (index, name, display, label):\n");
    for (int32_t i = 0; i < plugin.numParams(); ++i)
        std::printf("  %4d  %-20s %s %s\n", i, plugin.parameterName(i).c_str(),
                    plugin.parameterDisplay(i).c_str(), plugin.parameterLabel(i).c_str());
}

}  // namespace kf::host
