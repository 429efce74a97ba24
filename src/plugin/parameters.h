// Parameter objects and their collections. Every named value lives in a record of
// three numbers (normalised value, engine-unit value, its integer truncation); the
// parameter object points at it, so the host, the editor, chunks and MIDI learn all
// read and write the same place.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "common/parameter_table.h"
#include "common/relaxed_atomic.h"

namespace kf {

class TMChunkableClass;

// Record fields are written by the host's threads and by the audio thread (learned
// controllers, pitch bend, set-up re-sends) and read by the editor at its idle, all through
// relaxedLoad / relaxedStore.
struct ParameterRecord {
    float value = 0.0f;   // normalised 0-1 (as given; only the mappings limit it)
    float scaled = 0.0f;  // engine unit: semitones, dB, ms, choice...
    int32_t integer = 0;  // scaled value truncated toward zero
};

struct TMParameter {
    static constexpr int kNameBytes = 32;
    int32_t chunkId = kNotStored;
    int32_t tag = -1;
    float* value = nullptr;
    // A chunkable object standing in for the value (only the sample has one).
    TMChunkableClass* linked = nullptr;
    char name[kNameBytes] = "empty";
    char label[8] = "";
    int32_t flags = 1;  // 2 marks an on/off switch

    static constexpr int32_t kSwitchFlag = 2;
    bool isSwitch() const { return flags == kSwitchFlag; }
};

class ParameterSet {
  public:
    ParameterSet();

    // Registration and wiring, in the table's order.
    void registerParameter(int index, int32_t chunkId, int32_t tag, const char* name);
    void wire();

    // Record by tag (0-kMaxTag), or null.
    ParameterRecord* record(int32_t tag) {
        return isTag(tag) ? &records_[static_cast<std::size_t>(tag)] : nullptr;
    }
    const ParameterRecord& at(int32_t tag) const { return records_[static_cast<std::size_t>(tag)]; }
    float value(int32_t tag) const { return relaxedLoad(at(tag).value); }

    // Host table lookup by host index (0-45), or null.
    TMParameter* hostParameter(int32_t index) const {
        return (index >= 0 && index < kNumHostParameters) ? hostTable_[static_cast<std::size_t>(index)]
                                                          : nullptr;
    }
    TMParameter* byTag(int32_t tag);

    const std::array<TMParameter, kNumParameters>& all() const { return all_; }
    const std::array<TMParameter*, kNumStoredParameters>& stored() const { return stored_; }

  private:
    std::array<ParameterRecord, kMaxTag + 1> records_{};
    std::array<TMParameter, kNumParameters> all_{};
    std::array<TMParameter*, kNumStoredParameters> stored_{};
    std::array<TMParameter*, kNumHostParameters> hostTable_{};
};

}  // namespace kf
