// Working values of the sampler that parameters set: trigger source, level, pitch
// offset and loop switch. The sample reader reads these at each control block.
//
// Threads: the parameter setters may run on any thread and only hand their value over; the
// audio thread derives every working value (applyPending, and updateTrigger when notes or the
// transport change), so the gain always follows the chosen source and the latest level.
#pragma once

#include <cstdint>

#include "common/change_marks.h"
#include "common/numeric.h"
#include "common/system_info.h"

namespace kf {

class SamplerControls {
  public:
    // What starts and scales playback.
    enum TriggerSource : int32_t {
        kLastVelocity = 0,
        kLowestNoteVelocity = 1,
        kSingleNote = 2,
        kTransport = 3
    };

    explicit SamplerControls(const TMSystemInfo& info) : info_(info) {}

    // Normalised parameter values; any thread.
    void setLoop(float v) { hand(kLoop, v); }        // switch: loop count 0 (once) or -1 (for ever)
    void setTrigger(float v) { hand(kTrigger, v); }  // one of the four trigger sources
    void setPitch(float v) { hand(kPitch, v); }      // -24 to +24 semitones in steps of 0.1
    void setLevel(float v) { hand(kLevel, v); }      // linear level 0-1

    // Audio thread: the working values of every parameter set since the last call.
    void applyPending();

    // Note view summary the trigger sources read: the lowest held note's weight and
    // the number of held notes. Set by the note handling (audio thread).
    void setNoteView(float lowestWeight, int32_t heldNotes) {
        lowestWeight_ = lowestWeight;
        heldNotes_ = heldNotes;
    }

    // Audio thread: re-reads the chosen source; the sampler gain follows it and the level.
    void updateTrigger();

    float loop() const { return loop_; }
    int32_t loopCount() const { return loopCount_; }
    int32_t triggerSource() const { return source_; }
    float pitch() const { return pitch_; }
    float level() const { return level_; }
    float levelDb() const { return decibels(level_); }
    float triggerValue() const { return triggerValue_; }
    float trigger() const { return triggerValue_ > 0.0f ? 1.0f : 0.0f; }
    float gain() const { return gain_; }

  private:
    enum Input : int { kLoop, kTrigger, kPitch, kLevel, kInputs };
    void hand(Input i, float v) { inputs_.set(i, v); }
    float input(Input i) const { return inputs_.value(i); }
    float sourceValue() const;

    const TMSystemInfo& info_;
    HandedOverValues<kInputs> inputs_;
    float loop_ = 0.0f;
    int32_t loopCount_ = 0;
    int32_t source_ = kLastVelocity;
    float pitch_ = 0.0f;
    float level_ = 0.0f;
    float lowestWeight_ = 0.0f;
    int32_t heldNotes_ = 0;
    float triggerValue_ = 0.0f;
    float gain_ = 0.0f;
};

}  // namespace kf
