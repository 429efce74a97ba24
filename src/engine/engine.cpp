#include "engine/engine.h"

#include <emmintrin.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

#include "common/effect.h"
#include "common/fp_safety.h"
#include "common/numeric.h"
#include "common/parameter_table.h"

namespace kf {
namespace {

// Peak meters fall from any value to 0 in this time.
constexpr float kMeterFallMs = 200.0f;

constexpr double kDcPole = 0.998;  // about 14 Hz at 44.1 kHz

// The four meters side by side: the held peak falls by its step (not below 0); a higher
// value becomes the new peak with a step that brings it to 0 in the fall time.
struct MeterLanes {
    __m128 peak, step;
    void update(__m128 v, __m128 k) {
        peak = _mm_max_ps(_mm_sub_ps(peak, step), _mm_setzero_ps());
        const __m128 higher = _mm_cmpgt_ps(v, peak);
        peak = _mm_or_ps(_mm_and_ps(higher, v), _mm_andnot_ps(higher, peak));
        step = _mm_or_ps(_mm_and_ps(higher, _mm_mul_ps(v, k)), _mm_andnot_ps(higher, step));
    }
};

#ifdef NDEBUG
constexpr bool kCheckHandshake = false;
#else
constexpr bool kCheckHandshake = true;
#endif

// Debug builds: counts a thread into a section that at most one thread may be in at a time.
class SoleOccupant {
  public:
    explicit SoleOccupant(std::atomic<int32_t>& count) : count_(count) {
        if constexpr (kCheckHandshake) {
            [[maybe_unused]] const int32_t before = count_.fetch_add(1, std::memory_order_seq_cst);
            assert(before == 0 && "two threads inside the engine's processing at once");
        }
    }
    ~SoleOccupant() {
        if constexpr (kCheckHandshake) count_.fetch_sub(1, std::memory_order_seq_cst);
    }
    SoleOccupant(const SoleOccupant&) = delete;
    SoleOccupant& operator=(const SoleOccupant&) = delete;

  private:
    std::atomic<int32_t>& count_;
};

}  // namespace

const double Engine::kMaxTempo = std::nextafter(500.0, 0.0);

Engine::Engine(EngineHost* host, TMSampleBuffer* sample)
    : host_(host ? host : &defaultHost_),
      vocoder_(info_),
      stage1_(info_, InputStage::Kind::One),
      stage2_(info_, InputStage::Kind::Two),
      master_(info_),
      synth_(info_),
      carrierSynth_(synth_, info_, noiseTable_.data()),
      sampler_(info_),
      sampleReader_(info_, sample ? *sample : ownSample_),
      antiDenormal_(kEngineAntiDenormal) {
    info_.stateRegistry = &registry_;
    info_.tempoListeners = &listeners_;
    // The engine's own sound-carrying history, so that a suspend silences the whole chain and
    // not just the effects: an envelope held by the vocoder would otherwise keep sounding for
    // up to its release time after a resume, and a reverb would ring it on for seconds.
    vocoder_.registerHistory(registry_);
    master_.registerHistory(registry_);
    carrierSynth_.registerHistory(registry_);
    registry_.add(effectL_, sizeof effectL_);
    registry_.add(effectR_, sizeof effectR_);
    meterFallPerFrame_ = 1.0f / (kMeterFallMs * info_.samplesPerMillisecond + 1e-9f);
    bandLevels_.setRate(info_.sampleRate);
    fillNoiseTable();  // the synthesizer reads it from its first sample on
    synth_.updatePitches();
    synth_.updateGains();
}

void Engine::fillNoiseTable() {
    // Park-Miller style generator in 32-bit arithmetic: the product wraps, the remainder keeps
    // the dividend's sign, so values cover -1 to 1.
    int32_t seed = 20537;
    for (float& value : noiseTable_) {
        const int32_t product = static_cast<int32_t>(static_cast<uint32_t>(seed) * 16807u);
        seed = product % 2147483647;
        value = static_cast<float>(seed) * 4.656612873077393e-10f;  // 2^-31
    }
}

void Engine::setHost(EngineHost* host) {
    host_ = host ? host : &defaultHost_;
}

void Engine::setEffects(TMEffect* reverb, TMEffect* delay, TMEffect* phaser, TMEffect* lofi) {
    effects_ = {nullptr, reverb, delay, phaser, lofi};
}

void Engine::setCarrierMode(int32_t c) {
    carrier_.store(std::clamp(c, 0, 3), std::memory_order_relaxed);
    dirty_.store(true, std::memory_order_release);
}

void Engine::setModulatorMode(int32_t m) {
    modulator_.store(std::clamp(m, 0, 2), std::memory_order_relaxed);
    dirty_.store(true, std::memory_order_release);
}

void Engine::setMix(float v) {
    // Limited to 0..1: the blend table has three entries and a value of 2 or more would read
    // past it. Inside the host range nothing changes.
    mix_.store(clampUnit(v), std::memory_order_relaxed);
    dirty_.store(true, std::memory_order_release);
}

void Engine::setInA(bool on) {
    stage1_.setFrozen(on);
}
void Engine::setInB(bool on) {
    stage2_.setFrozen(on);
}

void Engine::setSynthOn(bool on) {
    synthOn_.store(on, std::memory_order_relaxed);
    dirty_.store(true, std::memory_order_release);
}

void Engine::setEffectChoice(int32_t e) {
    effect_.store(std::clamp(e, 0, kEffectChoices - 1), std::memory_order_relaxed);
    dirty_.store(true, std::memory_order_release);
}

void Engine::applyParameter(int32_t t, float v, float working) {
    const int32_t choice = std::max(truncToInt(working), 0);
    switch (t) {
        case tag::in1_gate:
        case tag::in2_gate:
            (t == tag::in1_gate ? stage1_ : stage2_).setGate(v);
            return;
        case tag::in1_comp_ratio:
        case tag::in2_comp_ratio:
            (t == tag::in1_comp_ratio ? stage1_ : stage2_).setRatio(v);
            return;
        case tag::in1_comp_speed:
        case tag::in2_comp_speed:
            (t == tag::in1_comp_speed ? stage1_ : stage2_).setSpeed(v);
            return;
        case tag::in1_gain:
        case tag::in2_gain:
            (t == tag::in1_gain ? stage1_ : stage2_).setGain(v);
            return;
        case tag::focus:
            return vocoder_.setFocus(v);
        case tag::shift:
            return vocoder_.setShift(v);
        case tag::response:
            return vocoder_.setResponse(v);
        case tag::articulate:
            return vocoder_.setArticulate(choice == 1);
        case tag::consonants:
            return vocoder_.setConsonants(v);
        case tag::mix:
            return setMix(v);
        case tag::eq_low:
            return master_.setEqLow(v);
        case tag::eq_mid:
            return master_.setEqMid(v);
        case tag::eq_high:
            return master_.setEqHigh(v);
        case tag::mastercomp:
            return master_.setCompAmount(v);
        case tag::compspeed:
            return master_.setCompSpeed(v);
        case tag::master_level:
            return master_.setLevel(v);
        case tag::filtertype:
            return synth_.setFilterType(v);
        case tag::waveform:
            return synth_.setWaveform(v);
        case tag::noise:
            return synth_.setNoise(v);
        case tag::octave:
            return synth_.setOctave(v);
        case tag::pitchbend_range:
            return synth_.setBendRange(v);
        case tag::pitchbend:
            return synth_.setBend(v);
        case tag::pulswidth:
            return synth_.setPulseWidth(v);
        case tag::cutoff:
            return synth_.setCutoff(v);
        case tag::resonance:
            return synth_.setResonance(v);
        case tag::synth_level:
            return synth_.setLevel(v);
        case tag::loop:
            return sampler_.setLoop(v);
        case tag::retrigger:
            return sampler_.setTrigger(v);
        case tag::sampler_pitch:
            return sampler_.setPitch(v);
        case tag::sampler_level:
            return sampler_.setLevel(v);
        case tag::effects_choice:
            return setEffectChoice(choice);
        case tag::carrier_mode:
            return setCarrierMode(choice);
        case tag::modulator_mode:
            return setModulatorMode(choice);
        case tag::in_a:
            return setInA(choice == 1);
        case tag::in_b:
            return setInB(choice == 1);
        case tag::synthoff:
            return setSynthOn(choice == 1);
        default:
            return;
    }
}

void Engine::setHeldNotes(const float* notes, const float* weights, int32_t count) {
    for (int v = 0; v < SynthControls::kVoices; ++v) {
        SynthVoice& voice = synth_.voice(v);
        voice.note = notes[v];
        voice.velocityWeight = weights[v];
    }
    synth_.updatePitches();
    synth_.updateGains();
    sampler_.setNoteView(weights[0], count);
    sampler_.updateTrigger();
}

void Engine::setSampleRate(float sr) {
    // Everything the new rate needs is made before anything changes: when memory runs out
    // the throw leaves the engine whole, at its old rate. The set-up itself cannot fail.
    if (TMSystemInfo::acceptsSampleRate(sr) && sr != info_.sampleRate)
        for (TMEffect* fx : effects_)
            if (fx) fx->prepareSampleRate(sr);
    requestedRate_ = sr;
    setup();
}

void Engine::setup() {
    FpModeGuard nearest(FpRounding::kNearest);  // the same timings on whichever thread runs it
    if (TMSystemInfo::acceptsSampleRate(requestedRate_) && requestedRate_ != info_.sampleRate)
        info_.setSampleRate(requestedRate_);
    meterFallPerFrame_ = 1.0f / (kMeterFallMs * info_.samplesPerMillisecond + 1e-9f);
    bandLevels_.setRate(info_.sampleRate);

    // Rate-dependent tables from the values last set, so the engine is right at the new rate
    // even before (or without) an owner re-sending its parameters.
    vocoder_.updateRate();
    stage1_.updateRate();
    stage2_.updateRate();
    master_.updateRate();

    for (int e = kReverbChoice; e <= kLofiChoice; ++e) {
        if (TMEffect* fx = effects_[static_cast<size_t>(e)]) {
            fx->reset();
            fx->updateTiming(false);
            fx->start();
        }
    }
    for (int32_t tag : kSetupOrder) host_->resendParameter(tag);
    host_->afterSetup();
    ++setupCount_;
}

void Engine::clearOutputStage() {
    dcPrevIn_[0] = dcPrevIn_[1] = 0.0f;
    dcPrevOut_[0] = dcPrevOut_[1] = 0.0f;
}

void Engine::applyPending() {
    vocoder_.applyPending();
    stage1_.applyPending();
    stage2_.applyPending();
    master_.applyPending();
    synth_.applyPending();
    sampler_.applyPending();
    if (!dirty_.exchange(false, std::memory_order_acquire)) return;
    routing_.carrier = carrier_.load(std::memory_order_relaxed);
    routing_.modulator = modulator_.load(std::memory_order_relaxed);
    routing_.effect = effect_.load(std::memory_order_relaxed);
    routing_.synthOn = synthOn_.load(std::memory_order_relaxed);
    // Crossfade over the table {dry, vocoder, vocoder}: v = 0 dry, v = 1 vocoder only.
    const float v = mix_.load(std::memory_order_relaxed);
    const float whole = std::trunc(v);
    routing_.mixLow = static_cast<int32_t>(v + 0.000001f);
    routing_.mixHigh = static_cast<int32_t>(v + 0.999999f);
    routing_.mixFraction = v - whole;
}

void Engine::readHostTime() {
    HostTimeInfo t;
    if (!host_->beginBlock(t)) return;
    // A host tempo of 500 or more runs at the largest tempo below 500: the stored tempo then
    // matches it and the set-up runs once, not at every control block.
    if (std::isfinite(t.tempo)) hostTempo_ = std::clamp(t.tempo, kMinTempo, kMaxTempo);
    const bool playing = t.transportPlaying ? t.ppqPosition >= 0.0 : t.alwaysPlayingHost;
    if (playing != playing_) {
        playing_ = playing;
        info_.transportPlaying = playing ? 1.0f : 0.0f;
        sampler_.updateTrigger();  // the host transport is one of its trigger sources
    }
}

void Engine::followTempo() {
    // Hosts that derive the tempo from sample positions report values such as 119.99999 and
    // 120.00001 in turn. A change of 1e-3 BPM moves a beat by under 0.2 samples at 44.1 kHz
    // and 120 BPM, so smaller differences are rounding noise; retiming the delay and the
    // phaser for them would only cost time. Comparing with the stored tempo, not the last
    // report, still lets a slow ramp through in 1e-3 steps.
    if (std::fabs(hostTempo_ - info_.tempo) < kTempoTolerance) return;
    relaxedStore(info_.tempo, hostTempo_);  // a state save on another thread reads it
    info_.samplesPerBeat = static_cast<float>(static_cast<double>(info_.sampleRate) / (hostTempo_ / 60.0));
    // Only the tempo listeners depend on the tempo (the delay's bar and time, the phaser's
    // synced rate); they follow at once and keep their content, so automation and tempo maps
    // never cut a tail. The full set-up, with its reset, is for sample-rate changes. Their
    // retiming runs under the rounding every other thread computes timings with.
    FpModeGuard nearest(FpRounding::kNearest);
    listeners_.notifyAll();
}

void Engine::controlBlock() {
    info_.controlCounter = 0;
    {
        // Note and controller handling computes working values (pitches, learned parameters)
        // that must come out as they do on any other thread.
        FpModeGuard nearest(FpRounding::kNearest);
        host_->dispatchEvents();
    }
    followTempo();
    // Values changed by the events or the set-up count from this block on.
    applyPending();
    stage1_.controlBlock();
    sampleReader_.refill({sampler_.trigger(), sampler_.gain(), sampler_.pitch(), sampler_.loopCount()},
                         samplerL_, samplerR_);
    stage2_.controlBlock();
    vocoder_.controlBlock();
    bandLevels_.follow(vocoder_.state());
    master_.controlBlock();
    if (routing_.effect >= kReverbChoice && routing_.effect <= kPhaserChoice) {
        if (TMEffect* fx = effects_[static_cast<size_t>(routing_.effect)]) fx->controlTick();
    }
    for (size_t m = 0; m < meterDisplay_.size(); ++m)
        meterDisplay_[m].store(std::clamp(meterPeak_[m], 0.0f, 1.0f), std::memory_order_relaxed);
}

void Engine::flush(float* outL, float* outR, int32_t end) {
    if (pendingFrames_ == 0) return;
    if (routing_.effect != kNoEffectChoice) {
        if (TMEffect* fx = effects_[static_cast<size_t>(routing_.effect)])
            fx->process(effectL_, effectR_, pendingFrames_);
    }
    // The DC blocker's recursion would keep a non-finite sample for ever; none leaves here.
    sanitizeBlock(effectL_, outL + (end - pendingFrames_), pendingFrames_);
    sanitizeBlock(effectR_, outR + (end - pendingFrames_), pendingFrames_);
    pendingFrames_ = 0;
}

void Engine::runChunk(const float* inA, const float* inB, int32_t n) {
    alignas(64) float a[kControlInterval], b[kControlInterval];
    alignas(64) float a1[kControlInterval], b1[kControlInterval], a2[kControlInterval], b2[kControlInterval];
    alignas(64) float synth[kControlInterval], vocL[kControlInterval], vocR[kControlInterval];
    alignas(64) static constexpr float kSilence[kControlInterval] = {};

    sanitizeBlock(inA, a, n);
    sanitizeBlock(inB, b, n);
    stage1_.process(a, b, a1, b1, n);
    stage2_.process(a, b, a2, b2, n);
    if (routing_.synthOn) {
        carrierSynth_.render(synth, n, antiDenormal_);
        sanitizeBlock(synth, synth, n);
        synthHeld_ = synth[n - 1];
    } else if (routing_.modulator == 2) {
        std::fill(synth, synth + n, synthHeld_);  // the synthesizer keeps its last value
    }

    const int32_t pos = info_.controlCounter;  // this chunk's place in the sampler buffers
    const float* anaL = kSilence;
    const float* anaR = kSilence;
    switch (routing_.carrier) {
        case 0:
            anaL = anaR = a1;
            break;
        case 1:
            anaL = anaR = b1;
            break;
        case 2:
            anaL = a1, anaR = b1;
            break;
        case 3:
            anaL = samplerL_ + pos, anaR = samplerR_ + pos;
            break;
        default:
            break;
    }
    const float* syn = kSilence;
    switch (routing_.modulator) {
        case 0:
            syn = a2;
            break;
        case 1:
            syn = b2;
            break;
        case 2:
            syn = synth;
            break;
        default:
            break;
    }

    vocoder_.process(syn, anaL, anaR, antiDenormal_, vocL, vocR, n);

    float* outL = effectL_ + pendingFrames_;
    float* outR = effectR_ + pendingFrames_;
    const bool lowVoc = routing_.mixLow != 0, highVoc = routing_.mixHigh != 0;
    const float frac = routing_.mixFraction;
    for (int32_t j = 0; j < n; ++j) {
        const float lLow = lowVoc ? vocL[j] : anaL[j], lHigh = highVoc ? vocL[j] : anaL[j];
        const float rLow = lowVoc ? vocR[j] : syn[j], rHigh = highVoc ? vocR[j] : syn[j];
        outL[j] = lLow + (lHigh - lLow) * frac;
        outR[j] = rLow + (rHigh - rLow) * frac;
    }
    master_.process(outL, outR, antiDenormal_, n);

    // Lanes in meter order: output left, analysis input left, synthesis input, output right.
    MeterLanes m{_mm_load_ps(meterPeak_), _mm_load_ps(meterStep_)};
    const __m128 k = _mm_set1_ps(meterFallPerFrame_);
    for (int32_t j = 0; j < n; ++j) m.update(_mm_setr_ps(outL[j], anaL[j], syn[j], outR[j]), k);
    _mm_store_ps(meterPeak_, m.peak);
    _mm_store_ps(meterStep_, m.step);

    info_.controlCounter += n;
    pendingFrames_ += n;
    if (n & 1) antiDenormal_ = -antiDenormal_;
}

void Engine::dcBlock(float* out, int32_t frames, int channel) {
    float px = dcPrevIn_[channel], py = dcPrevOut_[channel];
    for (int32_t i = 0; i < frames; ++i) {
        const float x = out[i];
        py = static_cast<float>((static_cast<double>(x) - static_cast<double>(px)) +
                                kDcPole * static_cast<double>(py));
        px = x;
        out[i] = py;
    }
    dcPrevIn_[channel] = px;
    dcPrevOut_[channel] = py;
}

void Engine::assertAudioHeldOut() const {
    if constexpr (kCheckHandshake)
        assert(callsWorking_.load(std::memory_order_seq_cst) == 0 &&
               "the state changed while a processing call was working on it");
}

void Engine::process(const float* const* in, float* const* out, int32_t frames) noexcept {
    const SoleOccupant caller(callsInside_);
    // Announce processing before looking at the loading flag (both sequentially consistent):
    // a loader that sets its flag and then sees no processing can rely on it, because this
    // call will then see the loading flag and touch nothing.
    processing_.store(1, std::memory_order_seq_cst);
    if (loading_.load(std::memory_order_seq_cst)) {
        if (out && frames > 0) {
            for (int c = 0; c < 2; ++c)
                if (out[c]) std::fill(out[c], out[c] + frames, 0.0f);
        }
        processing_.store(0, std::memory_order_release);
        return;
    }
    {
        // Left before `processing` clears, so a loader that sees it clear sees this too.
        const SoleOccupant worker(callsWorking_);
        processBlock(in, out, frames);
    }
    processing_.store(0, std::memory_order_release);
}

void Engine::processBlock(const float* const* in, float* const* out, int32_t frames) noexcept {
    // The noise runs on by one step per processed call, so repeated blocks never align.
    carrierSynth_.advanceNoiseIndex();
    readHostTime();

    const bool buffersValid = in && in[0] && in[1] && out && out[0] && out[1];
    if (frames > 0 && !buffersValid) {
        if (out)
            for (int c = 0; c < 2; ++c)
                if (out[c]) std::fill(out[c], out[c] + frames, 0.0f);
    }
    if (frames > 0 && buffersValid) {
        const FpModeGuard mode(FpRounding::kTowardZero);
        float* outL = out[0];
        float* outR = out[1];
        int32_t i = 0;
        while (i < frames) {
            if (info_.controlCounter >= info_.controlIntervalInt) {
                flush(outL, outR, i);
                controlBlock();
            } else {
                applyPending();
            }
            const int32_t n = std::min(frames - i, info_.controlIntervalInt - info_.controlCounter);
            runChunk(in[0] + i, in[1] + i, n);
            i += n;
        }
        flush(outL, outR, frames);
        dcBlock(outL, frames, 0);
        dcBlock(outR, frames, 1);
        bandLevels_.publish();
    }
}

}  // namespace kf
