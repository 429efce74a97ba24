// The instance's persistent side: the host chunk, preset files and the settings read at
// start-up.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "plugin/uniclient.h"
#include "state/file_chooser.h"
#include "state/paths.h"
#include "state/settings_startup.h"

namespace kf {

namespace {

constexpr const char* kPresetExtension = "kfn";
// Anything shorter cannot hold a header and the four sections.
constexpr int32_t kMinimumStateWords = 9;
// The host callback opcode a maker's own host listens on after a state was restored.
constexpr int32_t kMakerHostNotice = 50;

// Upper-cased byte-wise order, so "b.kfn" sorts with "B.kfn" and digits before letters.
bool lessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) < std::toupper(static_cast<unsigned char>(y));
    });
}

// Reads up to `bytes` bytes from the start of a regular file; the count read, -1 if unreadable.
int64_t readFileStart(const std::string& path, std::vector<char>& out, std::size_t bytes) {
    std::error_code ec;
    if (path.size() < 2 || !std::filesystem::is_regular_file(path, ec)) return -1;
    std::ifstream in(path, std::ios::binary);
    if (!in) return -1;
    out.assign(bytes, 0);
    in.read(out.data(), static_cast<std::streamsize>(bytes));
    return in.gcount();
}

}  // namespace

void TMUniClient::showMessage(const char* format) {
    messages_->showFormattedMessage(format, kProductName);
}

// ---- settings --------------------------------------------------------------------------

void TMUniClient::readSettings() {
    const StartupSettings s = runSettingsStartup(settings_);
    ignorePrgChange_ = s.ignoreProgramChange;
    ccMapRecallIsolate_ = s.ccMapRecallIsolate;
    presetPath_ = s.presetPath;
    midi_.setIgnoreProgramChange(ignorePrgChange_);
}

void TMUniClient::loadDefaultPreset() {
    if (presetPath_.empty()) return;
    const std::string path = withTrailingSeparator(presetPath_) + "default." + kPresetExtension;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) loadPresetFile(path);  // a missing default is no error
}

// ---- host chunk ------------------------------------------------------------------------

LearnMaps TMUniClient::snapshotMaps() {
    // Both passes of a write must see the same maps, and the audio thread may be learning.
    LearnMaps maps;
    midi_.copyMaps(maps);
    return maps;
}

int32_t TMUniClient::getChunk(void** data, bool /*isPreset*/) {
    const LearnMaps maps = snapshotMaps();
    const StateSnapshot state{&params_, &maps, programName_};
    chunk_.reset();
    chunk_.setTempo(static_cast<float>(engine_.systemInfo().tempo));
    chunk_.setSampleRate(engine_.systemInfo().sampleRate);
    chunk_.setCountOnly(true);
    chunk_.setIndex(0);
    writeState(chunk_, state);
    const int32_t total = chunk_.index();
    if (!chunk_.allocate(total)) {
        *data = nullptr;
        return 0;
    }
    chunk_.setIndex(total);
    writeState(chunk_, state);
    if (chunk_.failed()) {  // the sample changed between the passes; the next call is clean
        chunk_.reset();
        *data = nullptr;
        return 0;
    }
    *data = const_cast<void*>(chunk_.data());
    return total * 4;
}

int32_t TMUniClient::setChunk(void* data, int32_t byteSize, bool /*isPreset*/) {
    if (!data || byteSize <= 0) return 0;
    TMChunk chunk;
    chunk.wrap(data, static_cast<std::size_t>(byteSize));
    return loadState(chunk, true) ? 1 : 0;
}

bool TMUniClient::loadState(TMChunk& chunk, bool fullRecall) {
    ParsedState parsed;
    ParseResult result = parseState(chunk, params_, &sample_, parsed);
    // The total must agree with the bytes we were given.
    if (result == ParseResult::kOk && (chunk.total() < kMinimumStateWords ||
                                       chunk.total() > chunk.wordCount() || chunk.index() > chunk.total()))
        result = ParseResult::kDamaged;
    if (result != ParseResult::kOk) {
        showMessage(refusalMessage(result));
        return false;
    }

    // Keep the audio thread out while the state changes; it finishes its block first.
    engine_.loadingFlag().store(1, std::memory_order_seq_cst);
    while (engine_.processingFlag().load(std::memory_order_seq_cst) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    for (const ParsedState::Value& v : parsed.values) setParameter(v.tag, v.value);
    if (parsed.sampleRecordIndex >= 0 && chunk.setIndex(parsed.sampleRecordIndex))
        sample_.readChunk(chunk, false);  // a missing file keeps its reference, silently

    if (ccMapRecallIsolate_ == 0.0f || fullRecall) {
        LearnMaps maps = parsed.maps;
        if (!parsed.hasPressureMap) maps[MidiIntake::kPressureMap] = midi_.map(MidiIntake::kPressureMap);
        midi_.setMapEditing(true);
        midi_.replaceMaps(maps);
        midi_.setMapEditing(false);
    }
    if (parsed.programName) programName_ = *parsed.programName;

    engine_.stateRegistry().zeroAll();
    engine_.systemInfo().controlCounter = kControlInterval;
    if (hostIsMaker_) callHost(kMakerHostNotice, 0, 0, nullptr, parsed.tempo);

    engine_.loadingFlag().store(0, std::memory_order_release);
    refresh_.request();
    return true;
}

// ---- preset files ----------------------------------------------------------------------

bool TMUniClient::loadPresetFile(std::string path) {
    if (path.empty()) {
        TMFileChooser chooser(*dialogs_, settings_);
        path = presetPath_;
        if (!chooser.openFile(path, kPresetExtension) || path == "EMPTY") return false;
    }
    std::vector<char> bytes;
    const int64_t headerBytes = readFileStart(path, bytes, TMChunk::kHeaderWords * 4);
    if (headerBytes < 0) return false;  // missing or unreadable: nothing to say
    if (headerBytes < TMChunk::kHeaderWords * 4) {
        showMessage("This file is too short to be a %s preset; nothing was loaded.");
        return false;
    }
    TMChunk header;
    header.wrap(bytes.data(), bytes.size());
    header.readHeader();
    if (header.magic() != TMChunk::kStateMagic) {
        showMessage("\t This is no valid %s format!");
        return false;
    }
    if (header.version() > TMChunk::kWriterVersion) {
        showMessage("preset was written with a newer version of %s");
        return false;
    }
    // Compare the claimed length with the file before reading it, so a damaged header can
    // never make us allocate more than the file holds.
    const int64_t wanted = static_cast<int64_t>(header.total()) * 4;
    std::error_code ec;
    const auto fileBytes = std::filesystem::file_size(path, ec);
    if (header.total() < kMinimumStateWords || ec || static_cast<uint64_t>(wanted) > fileBytes ||
        readFileStart(path, bytes, static_cast<std::size_t>(wanted)) != wanted) {
        showMessage("This %s preset is damaged or cut short; nothing was loaded.");
        return false;
    }
    TMChunk chunk;
    chunk.wrap(bytes.data(), bytes.size());
    loadState(chunk, false);
    programName_ = pathTitle(path);
    callHost(vst::audioMasterUpdateDisplay);
    return true;
}

bool TMUniClient::savePresetFile(std::string path) {
    if (path.empty()) {
        TMFileChooser chooser(*dialogs_, settings_);
        std::string start;
        settings_.readText("presetsavepath0", start);
        path = start.empty() ? presetPath_ : start;
        if (!chooser.saveFile(path, kPresetExtension)) return false;
    }
    void* data = nullptr;
    const int32_t size = getChunk(&data, true);
    if (size <= 0) {
        showMessage("%s could not put its state into words; the preset was not saved.");
        return false;
    }
    // Write beside the target, then rename over it: an existing preset survives any failure.
    const std::string temporary = path + ".saving";
    bool written = false;
    if (std::FILE* f = std::fopen(temporary.c_str(), "wb")) {
        written = std::fwrite(data, 1, static_cast<std::size_t>(size), f) == static_cast<std::size_t>(size);
        written = (std::fclose(f) == 0) && written;
    }
    std::error_code ec;
    if (written) std::filesystem::rename(temporary, path, ec);
    if (!written || ec) {
        std::filesystem::remove(temporary, ec);
        messages_->showFormattedMessage("%s could not save the preset to %s.", kProductName, path.c_str());
        return false;
    }
    return true;
}

bool TMUniClient::choosePresetFolder(std::string& folder, int slot) {
    TMFileChooser chooser(*dialogs_, settings_);
    const std::string setting = "presetpath" + std::to_string(slot);
    std::string result = "EMPTY";
    if (!chooser.selectFolder(result, setting, TMFileChooser::kPresetFolderTitle) || result == "EMPTY")
        return false;
    settings_.writeText(setting, result);
    if (slot == 0) {
        settings_.writeText("presetpath", result);
        presetPath_ = result;
    }
    folder = result;
    return true;
}

std::vector<TMUniClient::PresetEntry> TMUniClient::listPresets(const std::string& folder) {
    std::vector<PresetEntry> files, folders;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory(ec))
            folders.push_back({name, entry.path().string(), true});
        else if (entry.path().extension() == std::string(".") + kPresetExtension)
            files.push_back({pathTitle(name), entry.path().string(), false});
    }
    auto byName = [](const PresetEntry& a, const PresetEntry& b) { return lessIgnoringCase(a.name, b.name); };
    std::sort(files.begin(), files.end(), byName);
    std::sort(folders.begin(), folders.end(), byName);
    files.insert(files.end(), folders.begin(), folders.end());
    return files;
}

}  // namespace kf
