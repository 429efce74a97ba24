#include "effects/insert_effects.h"

#include <cmath>

namespace kf {

namespace hostfx {

float delayTimeFromHost(float v) {
    return std::trunc((0.975f * v + 0.025f) / 0.025f) * 0.025f;
}
float phaserRateFromHost(float v) {
    return std::trunc(v / 0.025f) * 0.025f;
}
float phaserFeedbackFromHost(float v) {
    return 0.9f * v;
}
float bitrateFromHost(float v) {
    return 0.5f * v;
}
float samplerateFromHost(float v) {
    return 0.25f * v;
}
float dryWetFromHost(float v) {
    return v * v * v;
}

}  // namespace hostfx

InsertEffects::InsertEffects(TMSystemInfo* info, platform::MessageService* messages)
    : reverb(kReverbTag, info, messages),
      delay(kDelayTag, info),
      phaser(kPhaserTag, info),
      lofi(kLofiTag, info) {
    applyInitialConfiguration();
}

void InsertEffects::applyInitialConfiguration() {
    // Settings no host parameter reaches: the reverb's and the delay's echo filters stay
    // open, delay-time changes glide and the time is a free fraction of the bar, the
    // phaser's rate follows note lengths, and phaser and lo-fi always run fully wet.
    reverb.setParameter(4, 0.0f);
    delay.setParameterMode(-1, 1);
    delay.setParameterMode(0, TMDelay::kFreeTime);
    delay.setParameter(3, 0.0f);
    phaser.setParameterMode(0, TMPhaser::kSyncedRate);
    phaser.setDryWet(1.0f);
    lofi.setParameter(2, 0.0f);
    lofi.setDryWet(1.0f);
}

bool InsertEffects::setHostParameter(int32_t tag, float v) {
    using namespace hostfx;
    switch (tag) {
        case kRoom:
            reverb.setParameter(0, v);
            reverb.setParameter(1, v);
            return true;
        case kDamp:
            reverb.setParameter(2, v);
            reverb.setParameter(3, 1.0f - v);
            return true;
        case kReverbDryWet:
            reverb.setDryWet(dryWetFromHost(v));
            return true;
        case kDelayTime:
            delay.setParameter(0, delayTimeFromHost(v));
            return true;
        case kDelayFeedback:
            delay.setParameter(1, v);
            delay.setParameter(2, v);
            return true;
        case kDelayDryWet:
            delay.setDryWet(dryWetFromHost(v));
            return true;
        case kPhaserRate:
            phaser.setParameter(0, phaserRateFromHost(v));
            return true;
        case kPhaserFeedback:
            phaser.setParameter(1, phaserFeedbackFromHost(v));
            return true;
        case kPhaserStages:
            phaser.setParameter(2, v);
            phaser.setParameter(3, v);
            phaser.setParameter(4, v);
            return true;
        case kBitrate:
            lofi.setParameter(0, bitrateFromHost(v));
            return true;
        case kSamplerate:
            lofi.setParameter(1, samplerateFromHost(v));
            return true;
        case kDistortion:
            lofi.setParameter(3, v);
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
