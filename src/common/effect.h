// The insert-effect interface shared by the engine and the four effects. Header-only so
// the engine can drive effects through TMEffect pointers without linking the effects.
//
// Threading: setParameter and setDryWet may run on any thread (the host's, the editor's, and
// the audio thread's for learned controllers); they only hand the value over. process,
// processWet, controlTick, bpmChanged and updateTiming (at an unchanged sample rate) run on the
// audio thread and never allocate, lock or throw; the first three start by taking the values
// handed over, so only the audio thread touches the working state. Allocation happens only in
// constructors and in prepareSampleRate (the host's sample-rate call, before the engine
// set-up); updateTiming at a new rate then takes over what was prepared without allocating.
// The configuration calls (setParameterMode, setSyncTable, setStateRegistry) belong to
// construction and set-up.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/change_marks.h"
#include "common/fp_safety.h"
#include "common/numeric.h"
#include "common/relaxed_atomic.h"
#include "common/system_info.h"

namespace kf {

struct NoteValueSet;

// Receives the entries of a stepped parameter's menu; the editor implements it.
class ParameterMenu {
  public:
    virtual ~ParameterMenu() = default;
    virtual void addEntry(const char* text) = 0;
};

// A parameter's name and default value; each effect lists its parameters in a table of these,
// indexed by its own `Param` enumeration.
struct EffectParameterInfo {
    const char* name;
    float defaultValue;
};

class TMEffect {
  public:
    static constexpr int kNameChars = 36;           // effect name, up to 35 characters
    static constexpr int kParameterNameChars = 32;  // also the minimum size of caller text buffers
    // One change mark per parameter and one for the mix.
    static constexpr int32_t kMaxParameters = ChangeMarks::kCapacity - 1;

    // info must be non-null and outlive the effect; its state registry pointer is taken
    // over here (setStateRegistry can move the effect to another registry later).
    TMEffect(int32_t ownerTag, TMSystemInfo* info, int32_t parameterCount)
        : ownerTag_(ownerTag),
          parameterCount_(std::clamp(parameterCount, 0, kMaxParameters)),
          info_(info),
          registry_(info ? info->stateRegistry : nullptr) {
        values_.assign(static_cast<std::size_t>(parameterCount_), 0.0f);
        defaults_.assign(static_cast<std::size_t>(parameterCount_), 0.5f);
        names_.resize(static_cast<std::size_t>(parameterCount_));
        for (auto& n : names_) copyText(n.data(), kParameterNameChars, "no name set");
        copyText(name_, kNameChars, "TMEffect unspecified");
    }
    // Named by its parameter table: one parameter per entry, with its name and default.
    template <std::size_t N>
    TMEffect(int32_t ownerTag, TMSystemInfo* info, const EffectParameterInfo (&parameters)[N])
        : TMEffect(ownerTag, info, static_cast<int32_t>(N)) {
        static_assert(N <= kMaxParameters);
        for (std::size_t i = 0; i < N; ++i) {
            copyText(names_[i].data(), kParameterNameChars, parameters[i].name);
            defaults_[i] = parameters[i].defaultValue;
        }
    }

    TMEffect(const TMEffect&) = delete;
    TMEffect& operator=(const TMEffect&) = delete;

    virtual ~TMEffect() { unregisterAllRegions(); }

    // A block in place with the dry/wet mix; the engine's only processing call (count <= 32).
    virtual int32_t process(float* /*left*/, float* /*right*/, int32_t /*count*/) noexcept { return 0; }
    // A block in place without the dry/wet mix.
    virtual int32_t processWet(float* /*left*/, float* /*right*/, int32_t /*count*/) noexcept { return 0; }
    // value is normalised (0..1); any thread. The effect applies it when it next runs. An
    // index out of range changes nothing and answers false.
    bool setParameter(int32_t index, float value) {
        if (!validIndex(index)) return false;  // never a write outside the values array
        relaxedStore(values_[static_cast<std::size_t>(index)], value);
        changes_.mark(index);
        return true;
    }
    // mix 0 (dry) .. 1 (wet); any thread, applied like a parameter.
    void setDryWet(float mix) {
        relaxedStore(mix_, clampUnit(mix));
        changes_.mark(kMixMark);
    }
    // Audio thread: applies the values set since the last call. process, processWet and
    // controlTick start with it, so a value set between two processing calls counts from the
    // first frame after it, as if it had been applied at once.
    void takeParameters() noexcept {
        const uint32_t marks = changes_.take();
        if (marks == 0) return;
        // The working values must not depend on the thread: the processing call runs under
        // truncation, where the parameter laws would land on other values.
        FpModeGuard nearest(FpRounding::kNearest);
        for (int32_t i = 0; i < parameterCount_; ++i)
            if (ChangeMarks::has(marks, i)) applyParameter(i, parameterValue(i));
        if (ChangeMarks::has(marks, kMixMark)) applyDryWet(mix());
    }
    // Chooses how a parameter is read (free or tempo-synced); returns the resulting mode.
    virtual int32_t setParameterMode(int32_t /*index*/, int32_t /*mode*/) { return 0; }
    // text must hold kParameterNameChars characters.
    virtual void getParameterName(int32_t index, char* text) const {
        copyText(text, kParameterNameChars, validIndex(index) ? names_[index].data() : "unused");
    }
    // Clears all audio history and returns working values to their reset state; stored
    // parameter values, parameter modes and the mix survive.
    virtual void reset() {}
    // Once per 32-sample control block, before that block is processed.
    virtual void controlTick() noexcept {}
    // Makes ahead what running at sampleRate needs, while everything in use stays as it is;
    // throws std::bad_alloc, having changed nothing that runs, when memory runs out. The
    // updateTiming that follows the change of rate then cannot fail.
    virtual void prepareSampleRate(float /*sampleRate*/) {}
    // The sample rate or the tempo in TMSystemInfo has changed.
    virtual void updateTiming(bool /*keepContent*/) {}
    // Prepares to run after a reset.
    virtual bool start() { return true; }
    virtual bool usesControlTick() const { return false; }
    virtual float getParameterDefault(int32_t index) const {
        return validIndex(index) ? defaults_[index] : 0.0f;
    }
    // Moves this effect's registered regions to another registry (null: none).
    virtual void setStateRegistry(StateRegistry* registry) {
        if (registry_)
            for (const auto& r : ownRegions_) registry_->remove(r.start);
        registry_ = registry;
        if (registry_)
            for (const auto& r : ownRegions_) registry_->add(r.start, r.bytes);
    }
    // Display text for a normalised value; text must hold kParameterNameChars characters.
    virtual void getParameterDisplay(int32_t index, float value, char* text) const {
        if (validIndex(index))
            std::snprintf(text, kParameterNameChars, "%f", static_cast<double>(value));
        else
            text[0] = '\0';
    }
    // Selects a note-value list and recomputes every (possibly synced) parameter.
    virtual void setSyncTable(int32_t index) {
        relaxedStore(syncTableIndex_, index);
        for (int32_t i = 0; i < parameterCount_; ++i) setParameter(i, parameterValue(i));
    }
    virtual void fillParameterMenu(int32_t /*index*/, ParameterMenu& /*menu*/) const {}
    // Number of discrete steps of a parameter; 0 means continuous.
    virtual float getParameterSteps(int32_t /*index*/) const { return 0.0f; }

    const char* name() const { return name_; }
    int32_t ownerTag() const { return ownerTag_; }
    int32_t parameterCount() const { return parameterCount_; }
    // The values last set (any thread).
    float parameterValue(int32_t index) const {
        return validIndex(index) ? relaxedLoad(values_[static_cast<std::size_t>(index)]) : 0.0f;
    }
    float mix() const { return relaxedLoad(mix_); }
    // Working gains (audio thread).
    float dryGain() const { return dryGain_; }
    float wetGain() const { return wetGain_; }
    int32_t syncTableIndex() const { return relaxedLoad(syncTableIndex_); }
    StateRegistry* stateRegistry() const { return registry_; }
    const TMSystemInfo* systemInfo() const { return info_; }

  protected:
    static constexpr int kMixMark = kMaxParameters;

    bool validIndex(int32_t index) const { return index >= 0 && index < parameterCount_; }

    // Audio thread (and the set-up): derive the working values from a parameter value (index
    // valid) or from the mix (0..1, equal-power law by default).
    virtual void applyParameter(int32_t /*index*/, float /*value*/) {}
    virtual void applyDryWet(float mix) {
        wetGain_ = std::sqrt(mix);
        dryGain_ = std::sqrt(1.0f - mix);
    }

    void setName(const char* text) { copyText(name_, kNameChars, text); }
    void setParameterName(int32_t index, const char* text) {
        if (validIndex(index)) copyText(names_[index].data(), kParameterNameChars, text);
    }
    void setParameterDefault(int32_t index, float value) {
        if (validIndex(index)) defaults_[index] = value;
    }

    // Audio-history regions: each is recorded in the registry when created and removed
    // before it is freed, so a suspend never writes into freed memory.
    void registerRegion(void* start, uint32_t bytes) {
        ownRegions_.push_back({start, bytes});
        if (registry_) registry_->add(start, bytes);
    }
    // Moves a region's records to its replacement without allocating.
    void replaceRegion(const void* old, void* start, uint32_t bytes) {
        for (StateRegistry::Region& r : ownRegions_)
            if (r.start == old) r = {start, bytes};
        if (registry_) registry_->replace(old, start, bytes);
    }
    // Derived destructors call this before their members free the memory.
    void unregisterAllRegions() {
        if (registry_)
            for (const auto& r : ownRegions_) registry_->remove(r.start);
        ownRegions_.clear();
    }

    static void copyText(char* dst, std::size_t size, const char* src) {
        std::snprintf(dst, size, "%s", src);
    }

    // In the declaration order of the effect record. values_ and mix_ hold what was set
    // (relaxed atomics), the gains what the audio thread made of it.
    std::vector<float> values_;
    float dryGain_ = 0.70710677f;  // sqrt(0.5)
    float wetGain_ = 0.70710677f;
    float mix_ = 0.5f;
    char name_[kNameChars] = {};
    std::vector<std::array<char, kParameterNameChars>> names_;
    std::vector<float> defaults_;
    int32_t ownerTag_;
    int32_t parameterCount_;
    TMSystemInfo* info_;
    StateRegistry* registry_;
    int32_t syncTableIndex_ = 0;
    const NoteValueSet* noteValues_ = nullptr;

  private:
    ChangeMarks changes_;
    std::vector<StateRegistry::Region> ownRegions_;
};

}  // namespace kf
