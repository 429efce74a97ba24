#include "engine/engine.h"

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "common/effect.h"
#include "common/numeric.h"

namespace kf {
namespace {

// MXCSR: rounding control (bits 13-14, 11 = toward zero), flush-to-zero (bit 15) and
// denormals-are-zero (bit 6). Truncation plus the flushes keep every recursion out of the
// slow denormal range and make results independent of the caller's mode.
constexpr unsigned kRoundMask = 0x6000u;
constexpr unsigned kRoundTowardZero = 0x6000u;
constexpr unsigned kFlushToZero = 0x8000u;
constexpr unsigned kDenormalsAreZero = 0x0040u;

// About 1e-8: far below audibility, far above the denormal range.
constexpr uint32_t kAntiDenormalBits = 0x322BCC77u;

// Peak meters fall from any value to 0 in this time.
constexpr float kMeterFallMs = 200.0f;

constexpr double kDcPole = 0.998;  // about 14 Hz at 44.1 kHz

// Non-finite samples count as silence; finite ones are limited so that no later product
// (gain 8 times two resonant band stages, squared in the band sums) can overflow.
float sanitize(float x) {
    return std::isfinite(x) ? std::clamp(x, -Engine::kInputLimit, Engine::kInputLimit) : 0.0f;
}

// sanitize() over a block, four samples at a time.
void sanitizeBlock(const float* in, float* out, int32_t n) {
    const __m128i exponentMask = _mm_set1_epi32(0x7F800000);
    const __m128 lo = _mm_set1_ps(-Engine::kInputLimit), hi = _mm_set1_ps(Engine::kInputLimit);
    int32_t j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m128 x = _mm_loadu_ps(in + j);
        // Finite exactly when the exponent bits are not all ones.
        const __m128i e = _mm_and_si128(_mm_castps_si128(x), exponentMask);
        const __m128 finite =
            _mm_castsi128_ps(_mm_xor_si128(_mm_cmpeq_epi32(e, exponentMask), _mm_set1_epi32(-1)));
        _mm_storeu_ps(out + j, _mm_and_ps(finite, _mm_min_ps(_mm_max_ps(x, lo), hi)));
    }
    for (; j < n; ++j) out[j] = sanitize(in[j]);
}

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

}  // namespace

const std::array<int32_t, 53> Engine::kSetupTagOrder = {
    55, 87, 91, 95, 99, 102, 109, 12, 104, 125, 11, 9,  23, 10, 21, 19, 22, 16,
    20, 15, 4,  3,  2,  1,   42,  43, 14,  13,  7,  6,  5,  8,  0,  18, 17, 26,
    25, 24, 29, 28, 27, 30,  31,  32, 33,  34,  35, 36, 37, 38, 39, 40, 41};

const double Engine::kMaxTempo = std::nextafter(500.0, 0.0);

Engine::Engine(EngineHost* host)
    : host_(host ? host : &defaultHost_),
      vocoder_(info_),
      stage1_(info_, InputStage::Kind::One),
      stage2_(info_, InputStage::Kind::Two),
      master_(info_),
      offset_(std::bit_cast<float>(kAntiDenormalBits)) {
    info_.stateRegistry = &registry_;
    info_.tempoListeners = &listeners_;
    // The engine's own sound-carrying history, so that a suspend silences the whole chain and
    // not just the effects: an envelope held by the vocoder would otherwise keep sounding for
    // up to its release time after a resume, and a reverb would ring it on for seconds.
    vocoder_.registerHistory(registry_);
    master_.registerHistory(registry_);
    registry_.add(effectL_, sizeof effectL_);
    registry_.add(effectR_, sizeof effectR_);
    meterK_ = 1.0f / (kMeterFallMs * info_.samplesPerMillisecond + 1e-9f);
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
    effect_.store(std::clamp(e, 0, 4), std::memory_order_relaxed);
    dirty_.store(true, std::memory_order_release);
}

void Engine::setSampleRate(float sr) {
    requestedRate_ = sr;
    setup();
}

void Engine::setup() {
    if (TMSystemInfo::acceptsSampleRate(requestedRate_) && requestedRate_ != info_.sampleRate)
        info_.setSampleRate(requestedRate_);
    meterK_ = 1.0f / (kMeterFallMs * info_.samplesPerMillisecond + 1e-9f);

    // Rate-dependent tables from the values last set, so the engine is right at the new rate
    // even before (or without) an owner re-sending its parameters.
    vocoder_.updateRate();
    stage1_.updateRate();
    stage2_.updateRate();
    master_.updateRate();

    for (int e = kReverb; e <= kLofi; ++e) {
        if (TMEffect* fx = effects_[static_cast<size_t>(e)]) {
            fx->reset();
            fx->updateTiming(false);
            fx->start();
        }
    }
    for (int32_t tag : kSetupTagOrder) host_->resendParameter(tag);
    host_->refreshAfterSetup();
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
    if (!dirty_.exchange(false, std::memory_order_acquire)) return;
    r_.carrier = carrier_.load(std::memory_order_relaxed);
    r_.modulator = modulator_.load(std::memory_order_relaxed);
    r_.effect = effect_.load(std::memory_order_relaxed);
    r_.synthOn = synthOn_.load(std::memory_order_relaxed);
    // Crossfade over the table {dry, vocoder, vocoder}: v = 0 dry, v = 1 vocoder only.
    const float v = mix_.load(std::memory_order_relaxed);
    const float whole = std::trunc(v);
    r_.mixLow = static_cast<int32_t>(v + 0.000001f);
    r_.mixHigh = static_cast<int32_t>(v + 0.999999f);
    r_.mixFraction = v - whole;
}

void Engine::readHostTime() {
    HostTimeInfo t;
    if (!host_->queryTime(t)) return;
    // A host tempo of 500 or more runs at the largest tempo below 500: the stored tempo then
    // matches it and the set-up runs once, not at every control block.
    if (std::isfinite(t.tempo)) hostTempo_ = std::clamp(t.tempo, kMinTempo, kMaxTempo);
    const bool playing = t.transportPlaying ? t.ppqPosition >= 0.0 : t.alwaysPlayingHost;
    const double position = playing && std::isfinite(t.ppqPosition) ? t.ppqPosition : 0.0;
    info_.songPositionDouble = position;
    info_.songPosition = static_cast<float>(position);
    if (playing != playing_) {
        playing_ = playing;
        info_.transportPlaying = playing ? 1.0f : 0.0f;
        host_->transportChanged(playing);
    }
}

void Engine::followTempo() {
    // Hosts that derive the tempo from sample positions report values such as 119.99999 and
    // 120.00001 in turn. A change of 1e-3 BPM moves a beat by under 0.2 samples at 44.1 kHz
    // and 120 BPM, so smaller differences are rounding noise; re-running the set-up (which
    // resets the effects) for them would interrupt the sound at every block. Comparing with
    // the stored tempo, not the last report, still lets a slow ramp through in 1e-3 steps.
    if (std::fabs(hostTempo_ - info_.tempo) < kTempoTolerance) return;
    info_.tempo = hostTempo_;
    info_.samplesPerBeat = static_cast<float>(static_cast<double>(info_.sampleRate) / (info_.tempo / 60.0));
    info_.samplesPerBeatPerControlBlock = info_.samplesPerBeat / info_.controlInterval;
    listeners_.notifyAll();
    setup();
}

void Engine::controlBlock() {
    info_.controlCounter = 0;
    host_->handleQueuedEvents();
    followTempo();
    // Values changed by the events or the set-up count from this block on.
    applyPending();
    stage1_.controlBlock();
    host_->refillSampler(samplerL_, samplerR_);
    stage2_.controlBlock();
    vocoder_.controlBlock();
    master_.controlBlock();
    if (r_.effect >= kReverb && r_.effect <= kPhaser) {
        if (TMEffect* fx = effects_[static_cast<size_t>(r_.effect)]) fx->controlTick();
    }
    for (size_t m = 0; m < meterDisplay_.size(); ++m)
        meterDisplay_[m].store(std::clamp(meterPeak_[m], 0.0f, 1.0f), std::memory_order_relaxed);
}

void Engine::flush(float* outL, float* outR, int32_t end) {
    if (pending_ == 0) return;
    if (r_.effect != kNoEffect) {
        if (TMEffect* fx = effects_[static_cast<size_t>(r_.effect)])
            fx->process(effectL_, effectR_, pending_);
    }
    // The DC blocker's recursion would keep a non-finite sample for ever; none leaves here.
    float* l = outL + (end - pending_);
    float* r = outR + (end - pending_);
    for (int32_t j = 0; j < pending_; ++j) {
        l[j] = std::isfinite(effectL_[j]) ? effectL_[j] : 0.0f;
        r[j] = std::isfinite(effectR_[j]) ? effectR_[j] : 0.0f;
    }
    pending_ = 0;
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
    if (r_.synthOn) {
        host_->renderSynth(synth, n, offset_);
        for (int32_t j = 0; j < n; ++j) synth[j] = sanitize(synth[j]);
        synthHeld_ = synth[n - 1];
    } else if (r_.modulator == 2) {
        std::fill(synth, synth + n, synthHeld_);  // the synthesizer keeps its last value
    }

    const int32_t pos = info_.controlCounter;  // this chunk's place in the sampler buffers
    const float* anaL = kSilence;
    const float* anaR = kSilence;
    switch (r_.carrier) {
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
    switch (r_.modulator) {
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

    vocoder_.process(syn, anaL, anaR, offset_, vocL, vocR, n);

    float* outL = effectL_ + pending_;
    float* outR = effectR_ + pending_;
    const bool lowVoc = r_.mixLow != 0, highVoc = r_.mixHigh != 0;
    const float frac = r_.mixFraction;
    for (int32_t j = 0; j < n; ++j) {
        const float lLow = lowVoc ? vocL[j] : anaL[j], lHigh = highVoc ? vocL[j] : anaL[j];
        const float rLow = lowVoc ? vocR[j] : syn[j], rHigh = highVoc ? vocR[j] : syn[j];
        outL[j] = lLow + (lHigh - lLow) * frac;
        outR[j] = rLow + (rHigh - rLow) * frac;
    }
    master_.process(outL, outR, offset_, n);

    // Lanes in meter order: output left, analysis input left, synthesis input, output right.
    MeterLanes m{_mm_load_ps(meterPeak_), _mm_load_ps(meterStep_)};
    const __m128 k = _mm_set1_ps(meterK_);
    for (int32_t j = 0; j < n; ++j) m.update(_mm_setr_ps(outL[j], anaL[j], syn[j], outR[j]), k);
    _mm_store_ps(meterPeak_, m.peak);
    _mm_store_ps(meterStep_, m.step);

    info_.controlCounter += n;
    pending_ += n;
    if (n & 1) offset_ = -offset_;
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

void Engine::process(const float* const* in, float* const* out, int32_t frames) {
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

    readHostTime();
    host_->sendKeyboardNotes();

    const bool buffersValid = in && in[0] && in[1] && out && out[0] && out[1];
    if (frames > 0 && !buffersValid) {
        if (out)
            for (int c = 0; c < 2; ++c)
                if (out[c]) std::fill(out[c], out[c] + frames, 0.0f);
    }
    if (frames > 0 && buffersValid) {
        const unsigned saved = _mm_getcsr();
        _mm_setcsr((saved & ~kRoundMask) | kRoundTowardZero | kFlushToZero | kDenormalsAreZero);

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

        _mm_setcsr(saved);
    }
    processing_.store(0, std::memory_order_release);
}

}  // namespace kf
