// The engine's shared timing object and the two instance-owned lists that the engine
// and the insert effects share (state regions and tempo listeners). Header-only so that
// the engine and effect libraries never have to link each other.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/relaxed_atomic.h"
#include "common/sample_rate_range.h"

namespace kf {

// Memory regions that hold audio history; suspend zero-fills all of them at once.
class StateRegistry {
  public:
    struct Region {
        void* start;
        uint32_t bytes;
    };

    // Allocation happens here, so regions are added only at construction or set-up time.
    void add(void* start, uint32_t bytes) { regions_.push_back({start, bytes}); }

    // Removes every record with this start pointer; call before freeing the region.
    void remove(const void* start) {
        std::erase_if(regions_, [start](const Region& r) { return r.start == start; });
    }

    // Points the records of one region at its replacement, in place: unlike remove and add,
    // this cannot fail, so a set-up that has made the replacement can no longer be stopped.
    void replace(const void* old, void* start, uint32_t bytes) {
        for (Region& r : regions_)
            if (r.start == old) r = {start, bytes};
    }

    void zeroAll() {
        for (const Region& r : regions_) std::memset(r.start, 0, r.bytes);
    }

    const std::vector<Region>& regions() const { return regions_; }

  private:
    std::vector<Region> regions_;
};

// Told when the engine accepts a new host tempo.
class TMBPMChangeInterface {
  public:
    virtual ~TMBPMChangeInterface() = default;
    virtual void bpmChanged() {}
};

class TempoListeners {
  public:
    void add(TMBPMChangeInterface* l) { listeners_.push_back(l); }
    void remove(TMBPMChangeInterface* l) { std::erase(listeners_, l); }
    void notifyAll() {
        for (TMBPMChangeInterface* l : listeners_) l->bpmChanged();
    }
    std::size_t size() const { return listeners_.size(); }

  private:
    std::vector<TMBPMChangeInterface*> listeners_;
};

constexpr int kNoteTableSize = 165;   // MIDI notes -36 to 128
constexpr int kPitchTableSize = 257;  // -128 to +128 semitones
constexpr int kControlInterval = 32;

struct TMSystemInfo {
    double tempo = 120.0;  // beats per minute, kept within [45, 500); a state save polls it
    float samplesPerBeat = 22050.0f;
    float controlInterval = 32.0f;
    int32_t controlIntervalInt = kControlInterval;
    int32_t controlCounter = kControlInterval;  // 32 so the first frame opens a control block
    float rampFactor = 0.03125f;
    float sampleRate = 44100.0f;
    float slotCount = 32.0f;
    float transportPlaying = 0.0f;
    float pitchBend = 0.0f;
    float inverseRate = 1.0f / 44100.0f;
    float samplesPerMillisecond = 44.1f;

    float lastNote = 0.0f;
    float lastVelocityWeight = 0.0f;

    // Entry n is MIDI note n - 36; slopes are next minus this, for linear interpolation.
    float noteFrequency[kNoteTableSize] = {};
    float noteFrequencySlope[kNoteTableSize - 1] = {};
    // Entry 128 + i is 2^(i/12).
    float pitchRatio[kPitchTableSize] = {};
    float pitchRatioSlope[kPitchTableSize - 1] = {};

    StateRegistry* stateRegistry = nullptr;
    TempoListeners* tempoListeners = nullptr;

    TMSystemInfo() { buildTables(); }

    // Recomputes every rate-derived field for sample rate sr (caller checks the range).
    void setSampleRate(float sr) {
        relaxedStore(sampleRate, sr);  // the editor's readouts poll it
        inverseRate = 1.0f / sr;
        samplesPerMillisecond = sr * 0.001f;
        updateTempoDerived();
    }

    // Fields that depend on both the rate and the tempo.
    void updateTempoDerived() {
        samplesPerBeat = static_cast<float>(static_cast<double>(sampleRate) / (tempo / 60.0));
    }

    static bool acceptsSampleRate(float sr) {
        return sr >= static_cast<float>(kLowestSampleRate) && sr <= static_cast<float>(kHighestSampleRate);
    }

    // Linear interpolation in the note frequency table at a (fractional) MIDI note.
    float frequencyOfNote(float note) const {
        float index = note + 36.0f;
        index = index >= 0.0f ? std::min(index, static_cast<float>(kNoteTableSize - 2)) : 0.0f;  // NaN too
        int i = static_cast<int>(index);
        return noteFrequency[i] + noteFrequencySlope[i] * (index - static_cast<float>(i));
    }

    // Linear interpolation in the pitch ratio table at a (fractional) semitone offset.
    float ratioOfSemitones(float semitones) const {
        float index = semitones + 128.0f;
        index = index >= 0.0f ? std::min(index, static_cast<float>(kPitchTableSize - 2)) : 0.0f;  // NaN too
        int i = static_cast<int>(index);
        return pitchRatio[i] + pitchRatioSlope[i] * (index - static_cast<float>(i));
    }

  private:
    void buildTables() {
        // Entry 0 is MIDI note -36 (bits 0x3F82D014); each next entry is one equal-tempered
        // semitone up, multiplied in single precision so the table matches stored data.
        uint32_t bits = 0x3F82D014u;
        float f;
        std::memcpy(&f, &bits, sizeof f);
        for (int n = 0; n < kNoteTableSize; ++n) {
            noteFrequency[n] = f;
            f *= 1.0594631f;
        }
        for (int n = 0; n < kNoteTableSize - 1; ++n)
            noteFrequencySlope[n] = noteFrequency[n + 1] - noteFrequency[n];

        for (int i = 0; i <= 128; ++i)
            pitchRatio[128 + i] = static_cast<float>(std::pow(1.0594630943592953, i));
        for (int i = 1; i <= 128; ++i)
            pitchRatio[128 - i] = static_cast<float>(std::pow(0.9438743126816934, i));
        for (int n = 0; n < kPitchTableSize - 1; ++n) pitchRatioSlope[n] = pitchRatio[n + 1] - pitchRatio[n];
    }
};

}  // namespace kf
