#include "plugin/editor_link.h"

#include <atomic>

#include "editor/uniclient_editor.h"
#include "platform/async_file_dialogs.h"
#include "plugin/uniclient.h"

namespace kf {

std::unique_ptr<vst::AEffEditor> EditorLink::createEditor(platform::FileDialogs* dialogs) {
    std::unique_ptr<platform::AsyncFileDialogs> async;
    if (dialogs)
        async = std::make_unique<platform::PolledFileDialogs>(*dialogs);
    else
        async = std::make_unique<platform::SpawnedFileDialogs>();
    return std::make_unique<editor::TMUniClientEditor>(*this, std::move(async));
}

namespace {

// The records are plain numbers that the audio thread (learned controllers, pitch bend) and
// the host's threads write; the editor reads them as atomics so it never sees a torn value.
template <class T>
T atomicRead(const T& field) {
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

bool validTag(int32_t tag) {
    return tag >= 0 && tag <= kMaxTag;
}

}  // namespace

void EditorLink::captureDefaults() {
    for (int32_t t = 0; t <= kMaxTag; ++t) defaults_[static_cast<std::size_t>(t)] = parameterValue(t);
}

float EditorLink::parameterValue(int32_t tag) const {
    return validTag(tag) ? atomicRead(instance_.parameters().at(tag).value) : 0.0f;
}

int32_t EditorLink::choice(int32_t tag) const {
    return validTag(tag) ? atomicRead(instance_.parameters().at(tag).integer) : 0;
}

float EditorLink::defaultValue(int32_t tag) const {
    return validTag(tag) ? defaults_[static_cast<std::size_t>(tag)] : 0.0f;
}

void EditorLink::setParameter(int32_t tag, float value) {
    instance_.setParameter(tag, value);
}

void EditorLink::setParameterAutomated(int32_t tag, float value) {
    instance_.setParameterAutomated(tag, value);
}

void EditorLink::beginEdit(int32_t tag) {
    instance_.beginEdit(tag);
}

void EditorLink::endEdit(int32_t tag) {
    instance_.endEdit(tag);
}

float EditorLink::meter(int32_t index) const {
    return instance_.engine().meterValue(index).load(std::memory_order_relaxed);
}

int32_t EditorLink::learnTarget() const {
    return instance_.midi().learnTarget();
}

bool EditorLink::takeRefresh() {
    return instance_.editorRefresh().consume();
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
