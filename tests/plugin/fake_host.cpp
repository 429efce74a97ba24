#include "fake_host.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/scratch_settings.h"
#include "support/temp_files.h"

namespace kf::test {

FakeHost* FakeHost::current = nullptr;
thread_local vst::VstTimeInfo* FakeHost::threadTime = nullptr;

intptr_t FakeHost::callback(vst::AEffect*, int32_t opcode, int32_t index, intptr_t, void* ptr, float opt) {
    FakeHost* h = current;
    if (!h) return 0;
    switch (opcode) {
        case vst::audioMasterVersion:
            return 2400;
        case vst::audioMasterGetVendorString:
        case vst::audioMasterGetProductString:
            if (!h->answersStrings) return 0;
            std::strcpy(static_cast<char*>(ptr),
                        (opcode == vst::audioMasterGetVendorString ? h->vendor : h->product).c_str());
            return 1;
        case vst::audioMasterAutomate:
            h->automated.emplace_back(index, opt);
            return 1;
        case vst::audioMasterBeginEdit:
        case vst::audioMasterEndEdit:
            (opcode == vst::audioMasterBeginEdit ? h->beginEdits : h->endEdits).push_back(index);
            return 1;
        case vst::audioMasterWantMidi:
            ++h->wantMidiCalls;
            return 1;
        case 50:  // the maker's vendor-specific call
            h->vendorCalls.emplace_back(index, opt);
            return 1;
        case vst::audioMasterUpdateDisplay:
            ++h->updateDisplayCalls;
            return 1;
        case vst::audioMasterGetTime:
            return h->hasTime ? reinterpret_cast<intptr_t>(threadTime ? threadTime : &h->time) : 0;
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

void setAll(TMUniClient& c, std::initializer_list<Value> values) {
    for (const Value& v : values) c.setParameter(v.tag, v.value);
}

std::unique_ptr<TMUniClient> makeNeutralInstance(FakeHost& host) {
    auto c = makeInstance(host);
    c->setSampleRate(44100.0f);
    c->resume();
    setAll(*c, {Value(tag::in1_gate, 1.0f), Value(tag::in1_gain, 0.125f), Value(tag::eq_low, 0.5f),
                Value(tag::eq_mid, 0.5f), Value(tag::eq_high, 0.5f), Value(tag::mastercomp, 0.0f),
                Value(tag::master_level, 0.25f), Value(tag::effects_choice, 0.0f)});
    return c;
}

void makePlayedVocoder(TMUniClient& c) {
    setAll(c, {Value(tag::modulator_mode, 1.0f), Value(tag::mix, 1.0f), Value(tag::waveform, 1.0f),
               Value(tag::octave, 0.5f), Value(tag::filtertype, 1.0f), Value(tag::cutoff, 1.0f),
               Value(tag::resonance, 0.0f), Value(tag::focus, 0.6f), Value(tag::shift, 0.5f)});
}

std::vector<float> render(TMUniClient& c, const std::vector<float>& a, const std::vector<float>& b,
                          int block) {
    std::vector<float> inA = a, inB = b, l(a.size()), r(a.size());
    const int frames = static_cast<int>(a.size());
    for (int done = 0; done < frames; done += block) {
        float* in[2] = {inA.data() + done, inB.data() + done};
        float* out[2] = {l.data() + done, r.data() + done};
        c.processReplacing(in, out, std::min(block, frames - done));
    }
    return l;
}

double energy(const std::vector<float>& x, std::size_t from, std::size_t to) {
    double e = 0;
    for (std::size_t i = from; i < std::min(to, x.size()); ++i) e += x[i] * x[i];
    return e;
}

Words chunkOf(TMUniClient& c) {
    void* data = nullptr;
    const int32_t size = c.getChunk(&data, false);
    Words w(static_cast<std::size_t>(size / 4));
    std::memcpy(w.data(), data, static_cast<std::size_t>(size));
    return w;
}

bool loadChunk(TMUniClient& c, const Words& w) {
    Words copy = w;
    return c.setChunk(copy.data(), static_cast<int32_t>(copy.size() * 4), false) == 1;
}

namespace {
// Every instance in these tests reads and writes a settings folder of its own (and user presets
// and samples below it), never the user's.
struct IsolatedSettings : ::testing::Environment {
    void SetUp() override {
        folder = std::make_unique<TempDir>();
        useScratchSettings(folder->path());
    }
    void TearDown() override {
        dropScratchSettings();
        folder.reset();
    }
    std::unique_ptr<TempDir> folder;
};
const auto* const kIsolated = ::testing::AddGlobalTestEnvironment(new IsolatedSettings);
}  // namespace

}  // namespace kf::test
