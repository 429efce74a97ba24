#include "fake_host.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>

namespace kf::test {

FakeHost* FakeHost::current = nullptr;

intptr_t FakeHost::callback(vst::AEffect*, int32_t opcode, int32_t index, intptr_t, void* ptr, float opt) {
    FakeHost* h = current;
    if (!h) return 0;
    switch (opcode) {
        case vst::audioMasterVersion:
            return h->version;
        case vst::audioMasterGetVendorString:
            if (!h->answersStrings) return 0;
            std::strcpy(static_cast<char*>(ptr), h->vendor.c_str());
            return 1;
        case vst::audioMasterGetProductString:
            if (!h->answersStrings) return 0;
            std::strcpy(static_cast<char*>(ptr), h->product.c_str());
            return 1;
        case vst::audioMasterAutomate:
            h->automated.emplace_back(index, opt);
            return 1;
        case vst::audioMasterBeginEdit:
            h->beginEdits.push_back(index);
            return h->editAnswer;
        case vst::audioMasterEndEdit:
            h->endEdits.push_back(index);
            return h->editAnswer;
        case vst::audioMasterWantMidi:
            ++h->wantMidiCalls;
            return 1;
        case 50:
            h->vendorCalls.emplace_back(index, opt);
            return 1;
        case vst::audioMasterUpdateDisplay:
            ++h->updateDisplayCalls;
            return 1;
        case vst::audioMasterGetTime:
            return h->hasTime ? reinterpret_cast<intptr_t>(&h->time) : 0;
        default:
            return 0;
    }
}

std::unique_ptr<TMUniClient> makeInstance(FakeHost& host) {
    FakeHost::current = &host;
    return std::make_unique<TMUniClient>(&FakeHost::callback, PluginServices{&host.messages, &host.dialogs});
}

void sendMidi(TMUniClient& c, std::initializer_list<std::array<uint8_t, 3>> messages) {
    std::vector<vst::VstMidiEvent> events;
    for (const auto& m : messages) {
        vst::VstMidiEvent e{};
        e.type = vst::kVstMidiType;
        e.byteSize = sizeof e;
        for (int i = 0; i < 3; ++i) e.midiData[i] = static_cast<char>(m[static_cast<std::size_t>(i)]);
        events.push_back(e);
    }
    // The event list is a count, a reserved word and that many pointers.
    std::vector<intptr_t> list(2 + events.size());
    list[0] = static_cast<intptr_t>(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) list[2 + i] = reinterpret_cast<intptr_t>(&events[i]);
    vst::AEffect* e = c.getAeffect();
    e->dispatcher(e, vst::effProcessEvents, 0, 0, list.data(), 0.0f);
}

void playNotes(TMUniClient& c, std::initializer_list<uint8_t> notes) {
    for (uint8_t n : notes) sendMidi(c, {{0x90, n, 100}});
}

TemporarySettings::TemporarySettings() {
    char pattern[] = "/tmp/kf-settings-XXXXXX";
    folder = mkdtemp(pattern);
    setenv(platform::SettingsStore::kFolderEnvironment, folder.c_str(), 1);
    setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);  // user presets and samples
}

TemporarySettings::~TemporarySettings() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

namespace {
// Every instance in these tests reads and writes a settings folder of its own, never the
// user's.
struct IsolatedSettings : ::testing::Environment {
    void SetUp() override { settings = std::make_unique<TemporarySettings>(); }
    void TearDown() override { settings.reset(); }
    std::unique_ptr<TemporarySettings> settings;
};
const auto* const kIsolated = ::testing::AddGlobalTestEnvironment(new IsolatedSettings);
}  // namespace

}  // namespace kf::test
