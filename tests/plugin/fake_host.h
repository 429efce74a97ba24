// A scripted host callback and the small helpers the instance tests share.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "plugin/uniclient.h"
#include "support/recording_message_service.h"
#include "support/scripted_file_dialogs.h"

namespace kf::test {

struct FakeHost {
    std::string vendor = "Test Vendor";
    std::string product = "Test Host";
    bool answersStrings = true;
    bool hasTime = false;
    vst::VstTimeInfo time{};
    std::vector<std::pair<int32_t, float>> automated, vendorCalls;
    std::vector<int32_t> beginEdits, endEdits;
    int wantMidiCalls = 0;
    int updateDisplayCalls = 0;
    platform::RecordingMessageService messages;
    platform::ScriptedFileDialogs dialogs;

    static intptr_t callback(vst::AEffect* e, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                             float opt);
    // The host the next instance is created under; tests run one at a time.
    static FakeHost* current;
    // When set, the time this thread is answered instead of `time` (one audio thread per
    // instance, each with a tempo of its own).
    static thread_local vst::VstTimeInfo* threadTime;
};

// Creates an instance under this host, with recorded messages and scripted dialogs.
std::unique_ptr<TMUniClient> makeInstance(FakeHost& host);

// Hands the instance a host event list of these 3-byte MIDI messages, all at frame 0.
void sendMidi(TMUniClient& c, std::initializer_list<std::array<uint8_t, 3>> messages);
// Note-ons of velocity 100.
void playNotes(TMUniClient& c, std::initializer_list<uint8_t> notes);

// One normalised parameter value to set.
struct Value {
    Value(int32_t t, float v) : tag(t), value(v) {}
    int32_t tag;
    float value;
};
void setAll(TMUniClient& c, std::initializer_list<Value> values);
// A resumed instance at 44.1 kHz whose input stage 1 passes input A at unity (closed gate), with
// a flat, uncompressed master section at unity level and no insert effect.
std::unique_ptr<TMUniClient> makeNeutralInstance(FakeHost& host);
// ...and on top of that a played vocoder: the synthesizer (a sine, untransposed, open low-pass)
// is the carrier, the output all vocoder.
void makePlayedVocoder(TMUniClient& c);

// Runs the two inputs through processReplacing in blocks of `block` frames; returns the
// left output.
std::vector<float> render(TMUniClient& c, const std::vector<float>& a, const std::vector<float>& b,
                          int block);
double energy(const std::vector<float>& x, std::size_t from = 0, std::size_t to = SIZE_MAX);

using Words = std::vector<int32_t>;
Words chunkOf(TMUniClient& c);
bool loadChunk(TMUniClient& c, const Words& w);

}  // namespace kf::test
