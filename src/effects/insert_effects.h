// The plug-in's four insert effects with their fixed initial configuration and the
// mapping from the host's effect parameters (tags 30 to 41) to effect calls, so the
// plug-in only forwards values and hands the engine TMEffect pointers.
#pragma once

#include <array>
#include <cstdint>

#include "common/effect.h"
#include "effects/delay.h"
#include "effects/lofi.h"
#include "effects/phaser.h"
#include "effects/reverb.h"

namespace kf {

namespace hostfx {
// Host parameter tags of the effect knobs.
enum Tag : int32_t {
    kRoom = 30,
    kDamp = 31,
    kReverbDryWet = 32,
    kDelayTime = 33,
    kDelayFeedback = 34,
    kDelayDryWet = 35,
    kPhaserRate = 36,
    kPhaserFeedback = 37,
    kPhaserStages = 38,
    kBitrate = 39,
    kSamplerate = 40,
    kDistortion = 41,
};
constexpr int32_t kFirstTag = kRoom;
constexpr int32_t kLastTag = kDistortion;

// The parameter model's scaled values for the effect knobs (v is the host value 0..1).
float delayTimeFromHost(float v);   // multiple of 0.025 from 0.025 to 1.0
float phaserRateFromHost(float v);  // multiple of 0.025 from 0 to 1.0
float phaserFeedbackFromHost(float v);
float bitrateFromHost(float v);
float samplerateFromHost(float v);
float dryWetFromHost(float v);  // v cubed
}  // namespace hostfx

// Effect choice as derived from effects_choice: 0 none, 1 reverb, 2 delay, 3 phaser, 4 lo-fi.
enum EffectChoice : int32_t {
    kNoEffectChoice = 0,
    kReverbChoice = 1,
    kDelayChoice = 2,
    kPhaserChoice = 3,
    kLofiChoice = 4
};

class InsertEffects {
  public:
    // Owner tags the effects identify themselves with.
    static constexpr int32_t kReverbTag = 155;
    static constexpr int32_t kDelayTag = 158;
    static constexpr int32_t kLofiTag = 159;
    static constexpr int32_t kPhaserTag = 160;

    // Constructs reverb, delay, phaser, lo-fi (destroyed in the reverse order) and applies
    // the initial configuration. info (with its state registry and tempo listeners set)
    // and messages must outlive this object; messages null means standard error.
    InsertEffects(TMSystemInfo* info, platform::MessageService* messages = nullptr);

    // Forwards a host parameter (tags 30..41, value 0..1) to its effect, whether or not that
    // effect is chosen. Returns false, doing nothing, for any other tag.
    bool setHostParameter(int32_t tag, float value);

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
