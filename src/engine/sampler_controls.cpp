#include "engine/sampler_controls.h"

#include <algorithm>
#include <cmath>

#include "common/numeric.h"
#include "common/parameter_table.h"

namespace kf {

void SamplerControls::setLoop(float v) {
    // A switch: anything below one half is off, including values below 0.
    loop_ = static_cast<float>(std::max(truncToInt(law::loop(v)), 0));
    loopCount_ = -static_cast<int32_t>(loop_);
}

void SamplerControls::setTrigger(float v) {
    source_ = std::clamp(truncToInt(law::trigger(v)), 0, 3);
    updateTrigger();
}

void SamplerControls::setPitch(float v) {
    pitch_ = law::samplerPitch(v);
}

void SamplerControls::setLevel(float v) {
    level_ = v;
    levelDb_ = decibels(v);
    gain_ = triggerValue_ * level_;
}

float SamplerControls::sourceValue() const {
    switch (source_) {
        case kLastVelocity:
            return info_.lastVelocityWeight;
        case kLowestNoteVelocity:
            return lowestWeight_;
        case kSingleNote:
            return heldNotes_ == 1 ? 1.0f : 0.0f;
        default:
            return info_.transportPlaying;
    }
}

void SamplerControls::updateTrigger() {
    triggerValue_ = sourceValue();
    gain_ = triggerValue_ * level_;
}

}  // namespace kf
