// The notes held on the MIDI input, as the note handling keeps them and the synthesizer and
// the sampler read them: kept apart from the synthesizer so that the note handling needs
// nothing of its sound.
#pragma once

#include <cstdint>
#include <span>

namespace kf {

// One held-note slot as the note handling keeps it: note number and velocity weight
// (velocity byte / 128 plus a tiny offset); weight 0 marks a free slot.
struct HeldNote {
    float note = 0.0f;
    float weight = 0.0f;
};

inline constexpr int32_t kHeldNoteSlots = 32;

// Collects the occupied slots in slot order and sorts them by note, ascending; equal notes keep
// their slot order. Entries from the returned count on are zero. The sampler's note view uses
// the same ordering.
int32_t sortHeldNotes(std::span<const HeldNote, kHeldNoteSlots> slots,
                      std::span<HeldNote, kHeldNoteSlots> sorted);

}  // namespace kf
