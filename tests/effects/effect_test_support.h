// A stand-in for the engine around the insert effects: the shared timing object with its
// registry and listeners, the set-up sequence, and the 32-frame control-block driving.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "common/effect.h"
#include "effects/insert_effects.h"
#include "support/signals.h"

namespace kf::test {

// A knob's working value, as the parameter model hands it to the effects.
inline float working(int32_t tag, float v) {
    return parameterRow(tag)->law(v);
}

class Rig {
  public:
    explicit Rig(float sampleRate = 44100.0f, double tempo = 120.0) {
        info.stateRegistry = &registry;
        info.tempoListeners = &listeners;
        info.tempo = tempo;
        info.setSampleRate(sampleRate);
        effects = std::make_unique<InsertEffects>(&info);
        setUp();
    }

    // What the engine set-up does for the effects: reset, updateTiming, start, then every
    // stored host value again; the effects then hold them as when they next run.
    void setUp() {
        for (TMEffect* fx : effects->inSetUpOrder()) {
            fx->reset();
            fx->updateTiming(false);
            fx->start();
        }
        for (int32_t tag = tag::reverb_room; tag <= tag::lofi_distortion; ++tag)
            effects->setHostParameter(tag, working(tag, knob(tag)));
        take();
    }

    // Host values of the twelve effect knobs (tags 30..41), as the plug-in would hold them.
    float& knob(int32_t tag) { return knobs[static_cast<std::size_t>(tag - tag::reverb_room)]; }
    // A host change of a knob, as the effect holds it when it next runs.
    void setKnob(int32_t tag, float v) {
        knob(tag) = v;
        effects->setHostParameter(tag, working(tag, v));
        take();
    }
    void take() {
        for (TMEffect* fx : effects->inSetUpOrder()) fx->takeParameters();
    }

    // An accepted host tempo change as the engine handles it inside processing.
    void changeTempo(double tempo) {
        info.tempo = tempo;
        info.updateTempoDerived();
        listeners.notifyAll();
        setUp();
    }

    void changeSampleRate(float sr) {
        info.setSampleRate(sr);
        setUp();
    }

    TMSystemInfo info;
    StateRegistry registry;
    TempoListeners listeners;
    std::vector<float> knobs = std::vector<float>(12, 0.5f);
    std::unique_ptr<InsertEffects> effects;
};

// Drives one effect as the engine does: a control block every 32 frames of the stream
// (flush pending frames, then the hook, then the tick), a flush at each host block's end.
class Driver {
  public:
    explicit Driver(TMEffect* fx) : fx_(fx) {}

    std::function<void(int64_t frame)> onControlBlock;

    void run(const float* inL, const float* inR, float* outL, float* outR, int64_t frames, int hostBlock) {
        for (int64_t start = 0; start < frames; start += hostBlock) {
            const int64_t end = std::min<int64_t>(frames, start + hostBlock);
            for (int64_t i = start; i < end; ++i) {
                if (counter_ == 32) {
                    flush(outL, outR, i);
                    counter_ = 0;
                    if (onControlBlock) onControlBlock(position_);
                    fx_->controlTick();
                }
                bufL_[pending_] = inL[i];
                bufR_[pending_] = inR[i];
                ++pending_;
                ++counter_;
                ++position_;
            }
            flush(outL, outR, end);
        }
    }

    // Convenience for vectors of equal length; returns {left, right}.
    void run(const std::vector<float>& inL, const std::vector<float>& inR, std::vector<float>& outL,
             std::vector<float>& outR, int hostBlock = 32) {
        outL.resize(inL.size());
        outR.resize(inR.size());
        run(inL.data(), inR.data(), outL.data(), outR.data(), static_cast<int64_t>(inL.size()), hostBlock);
    }

  private:
    void flush(float* outL, float* outR, int64_t end) {
        if (pending_ == 0) return;
        fx_->process(bufL_, bufR_, pending_);
        for (int32_t k = 0; k < pending_; ++k) {
            outL[end - pending_ + k] = bufL_[k];
            outR[end - pending_ + k] = bufR_[k];
        }
        pending_ = 0;
    }

    TMEffect* fx_;
    int32_t counter_ = 32;
    int32_t pending_ = 0;
    int64_t position_ = 0;
    alignas(32) float bufL_[32] = {};
    alignas(32) float bufR_[32] = {};
};

}  // namespace kf::test
