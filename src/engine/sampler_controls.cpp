#include "engine/sampler_controls.h"

#include <algorithm>
#include <cmath>

#include "common/fp_safety.h"
#include "common/numeric.h"
#include "common/parameter_table.h"

namespace kf {

void SamplerControls::applyPending() {
    const uint32_t marks = inputs_.take();
    if (marks == 0) return;
    auto changed = [marks](Input i) { return ChangeMarks::has(marks, i); };
    // The same working values as on any other thread: processing runs under truncation.
    FpModeGuard nearest(FpRounding::kNearest);
    if (changed(kLoop)) {
        // A switch: anything below one half is off, including values below 0.
        loop_ = static_cast<float>(std::max(truncToInt(law::loop(input(kLoop))), 0));
        loopCount_ = -static_cast<int32_t>(loop_);
    }
    if (changed(kPitch)) pitch_ = law::samplerPitch(input(kPitch));
    if (changed(kLevel)) level_ = input(kLevel);
    if (changed(kTrigger)) source_ = std::clamp(truncToInt(law::trigger(input(kTrigger))), 0, 3);
    if (changed(kTrigger) || changed(kLevel)) updateTrigger();
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
