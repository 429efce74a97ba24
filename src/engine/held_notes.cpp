#include "engine/held_notes.h"

#include <cstddef>

namespace kf {

int32_t sortHeldNotes(std::span<const HeldNote, kHeldNoteSlots> slots,
                      std::span<HeldNote, kHeldNoteSlots> sorted) {
    int32_t count = 0;
    for (const HeldNote& s : slots)
        if (s.weight != 0.0f) sorted[static_cast<std::size_t>(count++)] = s;
    for (int32_t i = count; i < kHeldNoteSlots; ++i) sorted[static_cast<std::size_t>(i)] = HeldNote{};

    // Selection sort with a strict comparison; the chosen entry is moved to the front by shifting
    // the ones it passes rather than by a swap, which would reorder equal notes.
    for (int32_t i = 0; i < count; ++i) {
        int32_t lowest = i;
        for (int32_t j = i + 1; j < count; ++j)
            if (sorted[static_cast<std::size_t>(j)].note < sorted[static_cast<std::size_t>(lowest)].note)
                lowest = j;
        const HeldNote chosen = sorted[static_cast<std::size_t>(lowest)];
        for (int32_t k = lowest; k > i; --k)
            sorted[static_cast<std::size_t>(k)] = sorted[static_cast<std::size_t>(k - 1)];
        sorted[static_cast<std::size_t>(i)] = chosen;
    }
    return count;
}

}  // namespace kf
