// A scripted host callback for driving the instance directly in tests.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/file_dialogs.h"
#include "platform/message_service.h"
#include "plugin/uniclient.h"

namespace kf::test {

struct FakeHost {
    intptr_t version = 2400;
    std::string vendor = "Test Vendor";
    std::string product = "Test Host";
    bool answersStrings = true;
    bool hasTime = false;
    vst::VstTimeInfo time{};
    std::vector<std::pair<int32_t, float>> automated;
    std::vector<int32_t> beginEdits, endEdits;
    int wantMidiCalls = 0;
    bool editAnswer = true;
    std::vector<std::tuple<int32_t, float>> vendorCalls;
    int updateDisplayCalls = 0;
    platform::RecordingMessageService messages;
    platform::ScriptedFileDialogs dialogs;

    static intptr_t callback(vst::AEffect* e, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                             float opt);
    // The host the next instance is created under; tests run one at a time.
    static FakeHost* current;
};

// Creates an instance under this host, with recorded messages and scripted dialogs.
std::unique_ptr<TMUniClient> makeInstance(FakeHost& host);

// Hands the instance a host event list of these 3-byte MIDI messages, all at frame 0.
void sendMidi(TMUniClient& c, std::initializer_list<std::array<uint8_t, 3>> messages);
// Note-ons of velocity 100.
void playNotes(TMUniClient& c, std::initializer_list<uint8_t> notes);

// A fresh, empty settings folder for the instances of one test (the environment variable
// the settings store reads); removed again by the destructor.
struct TemporarySettings {
    TemporarySettings();
    ~TemporarySettings();
    std::string folder;
};

}  // namespace kf::test
