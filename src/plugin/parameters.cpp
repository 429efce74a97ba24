#include "plugin/parameters.h"

#include <cstdio>

#include "vst/audioeffect.h"

namespace kf {

ParameterSet::ParameterSet() {
    for (std::size_t i = 0; i < kParameterRows.size(); ++i) {
        const ParameterRow& row = kParameterRows[i];
        registerParameter(static_cast<int>(i), row.chunkId, row.tag, row.name);
    }
}

void ParameterSet::registerParameter(int index, int32_t chunkId, int32_t tag, const char* name) {
    TMParameter& p = all_[static_cast<std::size_t>(index)];
    p.chunkId = chunkId;
    p.tag = tag;
    p.flags = 1;
    p.label[0] = 0;
    vst::copyBounded(p.name, (name && name[0]) ? name : "empty", sizeof p.name);
    p.value = nullptr;
    p.linked = nullptr;
}

void ParameterSet::wire() {
    std::size_t storedCount = 0;
    hostTable_.fill(nullptr);
    for (std::size_t i = 0; i < all_.size(); ++i) {
        TMParameter& p = all_[i];
        p.value = &records_[static_cast<std::size_t>(p.tag)].value;
        if (kParameterRows[i].isSwitch) p.flags = TMParameter::kSwitchFlag;
        if (p.chunkId != kNotStored) stored_[storedCount++] = &p;
        if (const int32_t index = hostIndexOfTag(p.tag); index >= 0)
            hostTable_[static_cast<std::size_t>(index)] = &p;
    }
}

TMParameter* ParameterSet::byTag(int32_t tag) {
    for (TMParameter& p : all_)
        if (p.tag == tag) return &p;
    return nullptr;
}

}  // namespace kf
