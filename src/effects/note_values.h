// Musical lengths for tempo-synced effect values. Built at compile time, so the one
// process-wide set exists before any instance and needs no construction order.
#pragma once

#include <cstdint>

namespace kf {

struct NoteValue {
    double beats;   // quarter notes; 0 switches the synced value off
    char name[16];  // display text
};
static_assert(sizeof(NoteValue) == 24);

struct NoteValueList {
    const NoteValue* entries;
    int32_t count;
    float countFloat;
    float inverseCount;

    const NoteValue& at(int32_t index) const { return entries[index]; }
};

// The full list and three filtered views of it. setSyncTable index 0 (the only one this
// system uses) selects the full list; any other index out of range falls back to it.
struct NoteValueSet {
    static constexpr int32_t kListCount = 4;
    NoteValueList lists[kListCount];  // full, straight notes, straight and triplet, straight and dotted

    const NoteValueList& list(int32_t syncTableIndex) const {
        return lists[(syncTableIndex >= 0 && syncTableIndex < kListCount) ? syncTableIndex : 0];
    }
};

// The shared set; valid for the whole life of the process.
const NoteValueSet& sharedNoteValues();

}  // namespace kf
