// The plug-in's four insert effects with their fixed initial configuration and the wiring of
// the effect knobs (tags 30 to 41) to effect parameters, so the plug-in only forwards working
// values and hands the engine TMEffect pointers.
#pragma once

#include <array>
#include <cstdint>

#include "common/effect.h"
#include "common/parameter_table.h"
#include "effects/delay.h"
#include "effects/lofi.h"
#include "effects/phaser.h"
#include "effects/reverb.h"

namespace kf {

class InsertEffects {
  public:
    // Owner tags the effects identify themselves with.
    static constexpr int32_t kReverbTag = 155;
    static constexpr int32_t kDelayTag = 158;
    static constexpr int32_t kLofiTag = 159;
    static constexpr int32_t kPhaserTag = 160;

    // Constructs reverb, delay, phaser, lo-fi (destroyed in the reverse order) and applies
    // the initial configuration. info (with its state registry and tempo listeners set) must
    // outlive this object.
    explicit InsertEffects(TMSystemInfo* info);

    // Hands an effect knob's working value (tags 30..41, by the parameter table's law) to its
    // effect, whether or not that effect is chosen. Returns false, doing nothing, for any
    // other tag.
    bool setHostParameter(int32_t tag, float working);

    // The effect's own text for an effect knob's working value, where it says more than the
    // number: the delay time, the phaser's note value, the lo-fi rate in kHz at `sampleRate`.
    // False, writing nothing, for any other tag. `text` holds TMEffect::kParameterNameChars.
    // Reads only what the effects fix at construction, so any thread may ask.
    bool displayText(int32_t tag, float working, float sampleRate, char* text) const;

    // The effect for a choice 1..4; null for 0 (none) and anything else.
    TMEffect* forChoice(int32_t choice);

    // All four in the order of the engine's set-up (reset, updateTiming(false), start).
    std::array<TMEffect*, 4> inSetUpOrder() { return {&reverb, &delay, &phaser, &lofi}; }

    TMReverb reverb;
    TMDelay delay;
    TMPhaser phaser;
    TMLofi lofi;

  private:
    void applyInitialConfiguration();
};

}  // namespace kf
