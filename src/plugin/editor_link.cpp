#include "plugin/editor_link.h"

#include <atomic>
#include <type_traits>

#include "plugin/uniclient.h"
#include "state/file_chooser.h"
#include "state/sample_data.h"

namespace kf {

namespace {

// Whole listings stay small enough to build at every pop-up, however the folders nest.
constexpr std::size_t kMaxListedPresets = 4000;

std::vector<editor::PresetPort::PresetNode> listTree(const std::string& folder, int depth,
                                                     std::size_t& budget) {
    std::vector<editor::PresetPort::PresetNode> nodes;
    for (TMUniClient::PresetEntry& e : TMUniClient::listPresets(folder)) {
        if (budget == 0) break;
        if (e.isFolder && depth <= 0) continue;
        --budget;
        editor::PresetPort::PresetNode node{std::move(e.name), std::move(e.path), e.isFolder, {}};
        if (node.isFolder) node.children = listTree(node.path, depth - 1, budget);
        nodes.push_back(std::move(node));
    }
    return nodes;
}

}  // namespace

void EditorLink::captureDefaults() {
    for (int32_t t = 0; t <= kMaxTag; ++t) defaults_[static_cast<std::size_t>(t)] = parameterValue(t);
}

float EditorLink::parameterValue(int32_t tag) const {
    return isTag(tag) ? relaxedLoad(instance_.parameters().at(tag).value) : 0.0f;
}

int32_t EditorLink::choice(int32_t tag) const {
    return isTag(tag) ? relaxedLoad(instance_.parameters().at(tag).integer) : 0;
}

float EditorLink::defaultValue(int32_t tag) const {
    return isTag(tag) ? defaults_[static_cast<std::size_t>(tag)] : 0.0f;
}

void EditorLink::setParameter(int32_t tag, float value) {
    instance_.setParameter(tag, value);
}

// The editor names parameters by tag; the host knows them by host index.
void EditorLink::setParameterAutomated(int32_t tag, float value) {
    instance_.setParameterAutomated(hostIndexOfTag(tag), value);
}

void EditorLink::beginEdit(int32_t tag) {
    instance_.beginEdit(hostIndexOfTag(tag));
}

void EditorLink::endEdit(int32_t tag) {
    instance_.endEdit(hostIndexOfTag(tag));
}

float EditorLink::meter(int32_t index) const {
    return instance_.engine().meterValue(index).load(std::memory_order_relaxed);
}

static_assert(std::is_same_v<editor::BandLevels, BandLevelTap::Levels>);

bool EditorLink::takeBandLevels(editor::BandLevels& levels) {
    return instance_.engine().bandLevels().take(levels);
}

int32_t EditorLink::learnTarget() const {
    return instance_.midi().learnTarget();
}

void EditorLink::openManual() {
    instance_.openManual();
}

bool EditorLink::takeRefresh() {
    return instance_.editorRefresh().consume();
}

void EditorLink::setPageShown(bool shown) {
    instance_.userMessages().setPageShown(shown);
}

std::string EditorLink::takeMessage() {
    return instance_.userMessages().takeForPage();
}

void EditorLink::armLearn(int32_t tag) {
    instance_.armLearn(tag);
}

bool EditorLink::clearLearn(int32_t tag) {
    return instance_.clearLearn(tag);
}

bool EditorLink::assignController(int32_t tag, int controller, int16_t aux) {
    return instance_.assignController(tag, controller, aux);
}

const char* EditorLink::controllerName(int controller) const {
    return MidiIntake::controllerName(controller);
}

float EditorLink::sampleRate() const {
    return relaxedLoad(instance_.engine().systemInfo().sampleRate);
}

bool EditorLink::effectText(int32_t tag, float working, char* text) const {
    return instance_.effects().displayText(tag, working, sampleRate(), text);
}

std::string EditorLink::presetFolder() const {
    return instance_.presetFolder();
}

std::vector<editor::PresetPort::PresetNode> EditorLink::listPresets(const std::string& folder,
                                                                    int depth) const {
    std::size_t budget = kMaxListedPresets;
    return listTree(folder, depth, budget);
}

editor::DialogRequest EditorLink::presetDialog(PresetDialog which) const {
    const auto types = fileTypesForExtension(TMUniClient::kPresetExtension);
    switch (which) {
        case PresetDialog::kChooseFolder:
            return {platform::DialogKind::kFolder,
                    TMFileChooser::kPresetFolderTitle,
                    instance_.presetFolder(),
                    {}};
        case PresetDialog::kSave:
            return {platform::DialogKind::kSave, TMFileChooser::kSaveTitle, instance_.presetSaveSuggestion(),
                    types};
        case PresetDialog::kLoad:
            break;
    }
    return {platform::DialogKind::kOpen, TMFileChooser::kOpenTitle, instance_.presetFolder(), types};
}

bool EditorLink::loadPresetFile(const std::string& path) {
    // An empty path would make the instance ask the user itself.
    return !path.empty() && instance_.loadPresetFile(path);
}

bool EditorLink::savePresetFile(const std::string& path) {
    return instance_.savePresetAs(path);
}

void EditorLink::setPresetFolder(const std::string& folder) {
    if (!folder.empty()) instance_.setPresetFolder(folder, 0);
}

std::string EditorLink::currentProgramName() const {
    return instance_.currentProgramName();
}

uint32_t EditorLink::heldKeys(int32_t word) const {
    return word >= 0 && word < 4 ? instance_.midi().keyMaskWord(word) : 0u;
}

bool EditorLink::keyHeld(int32_t note) const {
    if (note < 0 || note > 127) return false;
    const int waiting = instance_.midi().keyboardNotes().pending(note);
    return waiting >= 0 ? waiting == 1 : instance_.midi().keyHeld(note);
}

bool EditorLink::postNoteOn(int32_t note, int32_t velocity) {
    return instance_.midi().postKeyboardNoteOn(note, velocity);
}

bool EditorLink::postNoteOff(int32_t note, int32_t velocity) {
    return instance_.midi().postKeyboardNoteOff(note, velocity);
}

}  // namespace kf
