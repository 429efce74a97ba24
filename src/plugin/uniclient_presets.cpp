// The instance's persistent side: the host chunk, preset files and the settings read at
// start-up.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/file_system.h"
#include "platform/safe_files.h"
#include "plugin/uniclient.h"
#include "state/file_chooser.h"
#include "state/paths.h"
#include "state/settings_startup.h"

namespace kf {

namespace {

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
    if (path.size() < 2 || !std::filesystem::is_regular_file(platform::fsPath(path), ec)) return -1;
    std::ifstream in(platform::fsPath(path), std::ios::binary);
    if (!in) return -1;
    out.assign(bytes, 0);
    in.read(out.data(), static_cast<std::streamsize>(bytes));
    return in.gcount();
}

}  // namespace

void TMUniClient::showMessage(const char* format) {
    messages_.showFormattedMessage(format, kProductName);
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
    const std::string path = withTrailingSeparator(presetPath_) + "default." + kPresetExtension;
    std::error_code ec;
    if (!presetPath_.empty() && std::filesystem::exists(platform::fsPath(path), ec) && loadPresetFile(path))
        return;
    // No readable default file (a lone module, a moved or cleaned bundle): the built-in
    // copy, so the instance starts as it would from its bundle. Without one the initial
    // values stay, silently.
    if (builtInDefaultPreset_.empty()) return;
    TMChunk chunk;
    chunk.wrap(builtInDefaultPreset_.data(), builtInDefaultPreset_.size());
    loadState(chunk, false);
    programName_ = "default";
}

// ---- host chunk ------------------------------------------------------------------------

LearnMaps TMUniClient::snapshotMaps() {
    // Both passes of a write must see the same maps, and the audio thread may be learning.
    LearnMaps maps;
    midi_.copyMaps(maps);
    return maps;
}

int32_t TMUniClient::writeChunk(TMChunk& chunk) {
    std::lock_guard lock(stateMutex_);
    const LearnMaps maps = snapshotMaps();
    const StateSnapshot state{&model_.parameters(), &maps, programName_};
    chunk.reset();
    chunk.setTempo(static_cast<float>(engine_.tempo()));
    chunk.setSampleRate(relaxedLoad(engine_.systemInfo().sampleRate));
    chunk.setCountOnly(true);
    chunk.setIndex(0);
    writeState(chunk, state);
    const int32_t total = chunk.index();
    if (!chunk.allocate(total)) return 0;
    chunk.setIndex(total);
    writeState(chunk, state);
    if (chunk.failed()) {  // the sample changed between the passes; the next call is clean
        chunk.reset();
        return 0;
    }
    return total;
}

int32_t TMUniClient::getChunk(void** data, bool /*isPreset*/) {
    std::lock_guard lock(stateMutex_);
    const int32_t words = writeChunk(chunk_);
    *data = words > 0 ? const_cast<void*>(chunk_.data()) : nullptr;
    return words * 4;
}

void TMUniClient::setProgramName(const char* name) {
    std::lock_guard lock(stateMutex_);
    programName_ = name;
}

std::string TMUniClient::currentProgramName() const {
    std::lock_guard lock(stateMutex_);
    return programName_;
}

int32_t TMUniClient::setChunk(void* data, int32_t byteSize, bool /*isPreset*/) {
    if (!data || byteSize <= 0) return 0;
    TMChunk chunk;
    chunk.wrap(data, static_cast<std::size_t>(byteSize));
    return loadState(chunk, true) ? 1 : 0;
}

bool TMUniClient::loadState(TMChunk& chunk, bool fullRecall) {
    std::lock_guard lock(stateMutex_);
    ParsedState parsed;
    ParseResult result = parseState(chunk, model_.parameters(), &sample_, parsed);
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
    engine_.assertAudioHeldOut();

    for (const ParsedState::Value& v : parsed.values) setParameter(v.tag, v.value);
    // A state from before a parameter existed sounds as it did then: the parameter takes its
    // initial value instead of keeping whatever the instance had (an older preset loaded
    // into an articulate instance must bring back the classic bank).
    for (const ParameterRow& row : kParameterRows) {
        if (row.chunkId < kFirstAddedChunkId) continue;
        const bool stored = std::any_of(parsed.values.begin(), parsed.values.end(),
                                        [&](const ParsedState::Value& v) { return v.tag == row.tag; });
        if (!stored) setParameter(row.tag, row.initial);
    }
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

    engine_.assertAudioHeldOut();
    engine_.loadingFlag().store(0, std::memory_order_release);
    model_.refresh().request();
    return true;
}

// ---- preset files ----------------------------------------------------------------------

bool TMUniClient::loadPresetFile(std::string path) {
    if (path.empty()) {
        TMFileChooser chooser(*dialogs_, settings_);
        path = presetFolder();
        if (!chooser.openFile(path, kPresetExtension) || path == "EMPTY") return false;
    }
    std::vector<char> bytes;
    constexpr std::size_t kHeaderBytes = std::size_t{TMChunk::kHeaderWords} * 4;
    const int64_t headerBytes = readFileStart(path, bytes, kHeaderBytes);
    if (headerBytes < 0) return false;  // missing or unreadable: nothing to say
    if (static_cast<std::size_t>(headerBytes) < kHeaderBytes) {
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
    const auto fileBytes = std::filesystem::file_size(platform::fsPath(path), ec);
    if (header.total() < kMinimumStateWords || ec || static_cast<uint64_t>(wanted) > fileBytes ||
        readFileStart(path, bytes, static_cast<std::size_t>(wanted)) != wanted) {
        showMessage("This %s preset is damaged or cut short; nothing was loaded.");
        return false;
    }
    TMChunk chunk;
    chunk.wrap(bytes.data(), bytes.size());
    {
        // The state and its name change together, as one step for the host's threads.
        std::lock_guard lock(stateMutex_);
        // A refused state leaves everything as it was, the name included.
        if (!loadState(chunk, false)) return false;
        programName_ = pathTitle(path);
    }
    callHost(vst::audioMasterUpdateDisplay);
    return true;
}

bool TMUniClient::savePresetAs(const std::string& answered) {
    if (answered.empty()) return false;
    const std::string path = withExtension(answered, kPresetExtension);
    std::error_code ec;
    if (path != answered && std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        messages_.showFormattedMessage(
            "%s kept the preset \"%s\" that is already there. To replace it, choose that file in the "
            "save dialog; to keep both, give the new preset another name.",
            kProductName, pathTitle(path).c_str());
        return false;
    }
    return savePresetFile(path);
}

bool TMUniClient::savePresetFile(std::string path) {
    if (path.empty()) {
        TMFileChooser chooser(*dialogs_, settings_);
        path = presetSaveSuggestion();
        return chooser.saveFile(path, kPresetExtension) && savePresetAs(path);
    }
    // A chunk of its own: the host's buffer from getChunk stays valid while it reads it.
    TMChunk chunk;
    const int32_t words = writeChunk(chunk);
    if (words <= 0) {
        showMessage("%s could not put its state into words; the preset was not saved.");
        return false;
    }
    // Written beside the target and renamed over it, so an existing preset survives any
    // failure; a link is followed, and nothing but a regular file is ever replaced.
    std::string error;
    if (!platform::replaceFile(
            path, {static_cast<const uint8_t*>(chunk.data()), static_cast<std::size_t>(words) * 4}, error)) {
        messages_.showFormattedMessage("%s could not save the preset: %s.", kProductName, error.c_str());
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
    setPresetFolder(result, slot);
    folder = result;
    return true;
}

void TMUniClient::setPresetFolder(const std::string& folder, int slot) {
    const std::string stored = withTrailingSeparator(folder);
    std::lock_guard lock(stateMutex_);
    settings_.writeText("presetpath" + std::to_string(slot), stored);
    if (slot == 0) {
        settings_.writeText("presetpath", stored);
        presetPath_ = stored;
    }
}

std::string TMUniClient::presetFolder() const {
    std::lock_guard lock(stateMutex_);
    return presetPath_;
}

std::string TMUniClient::presetSaveFolder() const {
    std::string start;
    settings_.readText(setting::kPresetSavePath0, start);
    return start.empty() ? presetFolder() : start;
}

std::string TMUniClient::presetSaveSuggestion() const {
    // A program name may come from a host and hold anything; the file name holds no
    // separator and is never empty.
    std::string name = currentProgramName();
    std::replace(name.begin(), name.end(), '/', '-');
    if (name.empty() || name == "." || name == "..") name = "preset";
    return withTrailingSeparator(presetSaveFolder()) + name + "." + kPresetExtension;
}

std::vector<TMUniClient::PresetEntry> TMUniClient::listPresets(const std::string& folder) {
    std::vector<PresetEntry> files, folders;
    const std::filesystem::path base = platform::fsPath(folder);
    for (const platform::FolderEntry& entry : platform::listFolder(folder)) {
        const std::filesystem::path name = platform::fsPath(entry.name);
        const std::string path = platform::utf8Path(base / name);
        if (entry.isLink && entry.isFolder) continue;
        if (entry.isFolder)
            folders.push_back({entry.name, path, true});
        else if (name.extension() == std::string(".") + kPresetExtension)
            files.push_back({pathTitle(entry.name), path, false});
    }
    auto byName = [](const PresetEntry& a, const PresetEntry& b) { return lessIgnoringCase(a.name, b.name); };
    std::sort(files.begin(), files.end(), byName);
    std::sort(folders.begin(), folders.end(), byName);
    files.insert(files.end(), folders.begin(), folders.end());
    if (files.size() > kMaxPresetEntries) files.resize(kMaxPresetEntries);
    return files;
}

}  // namespace kf
