#include "fake_host.h"

#include <cstring>

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
        case vst::audioMasterGetTime:
            return h->hasTime ? reinterpret_cast<intptr_t>(&h->time) : 0;
        default:
            return 0;
    }
}

std::unique_ptr<TMUniClient> makeInstance(FakeHost& host) {
    FakeHost::current = &host;
    return std::make_unique<TMUniClient>(&FakeHost::callback);
}

}  // namespace kf::test
