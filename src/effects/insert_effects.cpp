#include "effects/insert_effects.h"

#include <cstdio>

namespace kf {

InsertEffects::InsertEffects(TMSystemInfo* info)
    : reverb(kReverbTag, info), delay(kDelayTag, info), phaser(kPhaserTag, info), lofi(kLofiTag, info) {
    applyInitialConfiguration();
}

void InsertEffects::applyInitialConfiguration() {
    // Settings no host parameter reaches: the reverb's and the delay's echo filters stay
    // open, delay-time changes glide and the time is a free fraction of the bar, the
    // phaser's rate follows note lengths, and phaser and lo-fi always run fully wet.
    reverb.set(TMReverb::Param::kCutoff, 0.0f);
    delay.setParameterMode(-1, 1);
    delay.setParameterMode(static_cast<int32_t>(TMDelay::Param::kTime), TMDelay::kFreeTime);
    delay.set(TMDelay::Param::kCutoff, 0.0f);
    phaser.setParameterMode(static_cast<int32_t>(TMPhaser::Param::kRate), TMPhaser::kSyncedRate);
    phaser.setDryWet(1.0f);
    lofi.set(TMLofi::Param::kNoise, 0.0f);
    lofi.setDryWet(1.0f);
}

bool InsertEffects::setHostParameter(int32_t t, float w) {
    using Reverb = TMReverb::Param;
    using Delay = TMDelay::Param;
    using Phaser = TMPhaser::Param;
    using Lofi = TMLofi::Param;
    switch (t) {
        case tag::reverb_room:
            return reverb.set(Reverb::kSize, w) && reverb.set(Reverb::kStrength, w);
        case tag::reverb_damp:
            return reverb.set(Reverb::kDamp, w) && reverb.set(Reverb::kWidth, 1.0f - w);
        case tag::reverb_drywet:
            reverb.setDryWet(w);
            return true;
        case tag::delaytime:
            return delay.set(Delay::kTime, w);
        case tag::delay_feedback:
            return delay.set(Delay::kFeedback, w) && delay.set(Delay::kWidth, w);
        case tag::delay_drywet:
            delay.setDryWet(w);
            return true;
        case tag::phaser_rate:
            return phaser.set(Phaser::kRate, w);
        case tag::phaser_feedback:
            return phaser.set(Phaser::kFeedback, w);
        case tag::phaser_stages:
            return phaser.set(Phaser::kDepth, w) && phaser.set(Phaser::kStages, w) &&
                   phaser.set(Phaser::kWidth, w);
        case tag::lofi_bitrate:
            return lofi.set(Lofi::kBits, w);
        case tag::lofi_samplerate:
            return lofi.set(Lofi::kSampleRate, w);
        case tag::lofi_distortion:
            return lofi.set(Lofi::kDistortion, w);
        default:
            return false;
    }
}

bool InsertEffects::displayText(int32_t t, float w, float sampleRate, char* text) const {
    switch (t) {
        case tag::delaytime:
            // A fraction of a 4-beat bar reads best as beats; the other modes name their notes.
            if (delay.timeMode() == TMDelay::kFreeTime)
                std::snprintf(text, TMEffect::kParameterNameChars, "%.1f beats",
                              4.0 * static_cast<double>(w));
            else
                delay.getParameterDisplay(static_cast<int32_t>(TMDelay::Param::kTime), w, text);
            return true;
        case tag::phaser_rate:
            phaser.getParameterDisplay(static_cast<int32_t>(TMPhaser::Param::kRate), w, text);
            return true;
        case tag::lofi_samplerate:
            formatKilohertz(TMLofi::takenRate(w, sampleRate), text, TMEffect::kParameterNameChars);
            return true;
        default:
            return false;
    }
}

TMEffect* InsertEffects::forChoice(int32_t choice) {
    switch (choice) {
        case kReverbChoice:
            return &reverb;
        case kDelayChoice:
            return &delay;
        case kPhaserChoice:
            return &phaser;
        case kLofiChoice:
            return &lofi;
        default:
            return nullptr;
    }
}

}  // namespace kf
