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

TemporarySettings::TemporarySettings() {
    char pattern[] = "/tmp/kf-settings-XXXXXX";
    folder = mkdtemp(pattern);
    setenv(platform::SettingsStore::kFolderEnvironment, folder.c_str(), 1);
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
