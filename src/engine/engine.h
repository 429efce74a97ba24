// The block-processing engine: routes the host inputs through the input stages, the vocoder,
// the dry/wet blend, the master section, the insert effect and the DC blocker, running the
// slower work in control blocks that fall every 32 frames of the stream whatever the host's
// block sizes.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>

#include "common/parameter_table.h"
#include "common/relaxed_atomic.h"
#include "common/sample_buffer.h"
#include "common/system_info.h"
#include "engine/band_level_tap.h"
#include "engine/carrier_synth.h"
#include "engine/dynamics.h"
#include "engine/sample_reader.h"
#include "engine/sampler_controls.h"
#include "engine/synth_controls.h"
#include "engine/vocoder_bank.h"

namespace kf {

class TMEffect;

// What the host reported for the current block.
struct HostTimeInfo {
    double tempo = 120.0;            // beats per minute
    double ppqPosition = 0.0;        // quarter notes
    bool transportPlaying = false;   // the host's "transport playing" flag
    bool alwaysPlayingHost = false;  // quirk: this host's transport counts as playing without the flag
};

// What the engine asks of its owner. Every hook has a correct do-nothing default, so the engine
// runs without an owner (tests, benchmarks).
class EngineHost {
  public:
    virtual ~EngineHost() = default;

    // Once per processing call, before any audio: the host's time information (false when the
    // host gives none; tempo and transport then stay). The owner also queues input that waits
    // for the audio thread here (the on-screen keyboard's notes).
    virtual bool beginBlock(HostTimeInfo& /*info*/) { return false; }
    // Every control block: hand the due queued events (notes, controllers) to their handlers.
    virtual void dispatchEvents() {}
    // Set-up only: send this tag's current normalised value through the parameter model again.
    virtual void resendParameter(int32_t /*tag*/) {}
    // End of the set-up: the owner re-applies what depends on its own state (held notes, the
    // modulation wheel and pitch bend).
    virtual void afterSetup() {}
};

class Engine {
  public:
    enum Meter : int32_t {
        kMeterOutLeft = 0,
        kMeterAnalysisLeft = 1,
        kMeterSynthesis = 2,
        kMeterOutRight = 3
    };

    // Host tempo limits: slower tempos run at the minimum; the stored tempo stays below 500.
    static constexpr double kMinTempo = 45.0;
    static const double kMaxTempo;  // the largest double below 500
    // Tempo changes smaller than this are host rounding noise, not a change (see engine.cpp).
    static constexpr double kTempoTolerance = 1e-3;

    // sample: what the sampler plays (null: an empty sample of the engine's own); it must
    // outlive the engine.
    explicit Engine(EngineHost* host = nullptr, TMSampleBuffer* sample = nullptr);
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void setHost(EngineHost* host);

    TMSystemInfo& systemInfo() { return info_; }
    StateRegistry& stateRegistry() { return registry_; }
    TempoListeners& tempoListeners() { return listeners_; }
    VocoderBank& vocoder() { return vocoder_; }
    InputStage& inputStage1() { return stage1_; }
    InputStage& inputStage2() { return stage2_; }
    MasterSection& master() { return master_; }
    SynthControls& synth() { return synth_; }
    const SynthControls& synth() const { return synth_; }
    const CarrierSynth& carrier() const { return carrierSynth_; }
    SamplerControls& sampler() { return sampler_; }
    const SamplerControls& sampler() const { return sampler_; }
    TMSampleReader& sampleReader() { return sampleReader_; }
    const float* noiseTable() const { return noiseTable_.data(); }

    // A parameter's new value: v normalised as the host gave it, working its working value
    // by the parameter table's law. Only tags whose row sends them to the engine act.
    void applyParameter(int32_t tag, float v, float working);
    // The held notes changed: notes and weights of the held notes sorted by note (count
    // entries). The four lowest become the synthesizer's voices; the sampler's trigger sources
    // follow.
    void setHeldNotes(const float* notes, const float* weights, int32_t count);

    // The insert effects, owned by the caller (null allowed). Index 0 is "none".
    void setEffects(TMEffect* reverb, TMEffect* delay, TMEffect* phaser, TMEffect* lofi);

    // Routing and switches; any thread, taken over at the next processed chunk.
    void setCarrierMode(int32_t c);    // 0 A1|A1, 1 B1|B1, 2 A1|B1, 3 sampler L|R
    void setModulatorMode(int32_t m);  // 0 A2, 1 B2, 2 synth
    void setMix(float v);              // normalised dry (0) .. vocoder (1)
    void setInA(bool on);              // freezes input stage 1
    void setInB(bool on);              // freezes input stage 2
    void setSynthOn(bool on);          // the synthesizer runs (synthoff switch)
    void setEffectChoice(int32_t e);   // an EffectChoice

    // -1 until set.
    int32_t carrierMode() const { return carrier_.load(std::memory_order_relaxed); }
    int32_t modulatorMode() const { return modulator_.load(std::memory_order_relaxed); }
    int32_t effectChoice() const { return effect_.load(std::memory_order_relaxed); }
    float mix() const { return mix_.load(std::memory_order_relaxed); }

    // Stores the host's sample rate and runs the set-up (a rate outside 11050..196000 is not
    // taken over). Throws std::bad_alloc, changing nothing, when the memory the new rate
    // needs cannot be had.
    void setSampleRate(float sr);
    // Rate-derived values, effect reset and timing, parameter re-send, voice refresh.
    void setup();

    // Replacing process of the host: reads in[0], in[1], writes out[0], out[1] (which may be
    // the same buffers as the inputs).
    void process(const float* const* in, float* const* out, int32_t frames) noexcept;

    // Clears the output stage (the DC blocker's states); called on resume.
    void clearOutputStage();

    // Load hand-shake: a loader sets `loading`, then waits while `processing` is set; a
    // processing call that finds `loading` set writes silence and touches nothing else.
    std::atomic<uint8_t>& loadingFlag() { return loading_; }
    std::atomic<uint8_t>& processingFlag() { return processing_; }
    // Debug builds check what the hand-shake relies on: process aborts when a second thread
    // enters it while one is inside (the single `processing` flag could then read clear while
    // a call still works), and a loader calls this once it holds the audio thread out, and
    // again before it lets it back in, to abort if a processing call works on the state
    // meanwhile. Release builds check nothing.
    void assertAudioHeldOut() const;

    // Meter values for the editor, each 0..1, refreshed every control block.
    const std::atomic<float>& meterValue(int32_t meter) const {
        return meterDisplay_[static_cast<size_t>(std::clamp(meter, 0, 3))];
    }

    // The analysis bands' levels for the editor's display; the editor's thread takes them.
    BandLevelTap& bandLevels() { return bandLevels_; }

    // The tempo the engine runs at (any thread).
    double tempo() const { return relaxedLoad(info_.tempo); }
    // Introspection for tests.
    int32_t controlCounter() const { return info_.controlCounter; }
    int32_t setupCount() const { return setupCount_; }

  private:
    struct Routing {
        int32_t carrier = -1, modulator = -1, effect = 0;
        int32_t mixLow = 0, mixHigh = 0;
        float mixFraction = 0.0f;
        bool synthOn = false;
    };

    // process() once the audio thread may work on the state.
    void processBlock(const float* const* in, float* const* out, int32_t frames) noexcept;
    void applyPending();
    void controlBlock();
    void flush(float* outL, float* outR, int32_t end);
    void runChunk(const float* inA, const float* inB, int32_t n);
    void readHostTime();
    void followTempo();
    void dcBlock(float* out, int32_t frames, int channel);

    void fillNoiseTable();

    EngineHost defaultHost_;
    EngineHost* host_;
    TMSystemInfo info_;
    StateRegistry registry_;
    TempoListeners listeners_;
    VocoderBank vocoder_;
    InputStage stage1_;
    InputStage stage2_;
    MasterSection master_;
    std::array<float, CarrierSynth::kNoiseTableSize> noiseTable_{};
    SynthControls synth_;
    CarrierSynth carrierSynth_;
    SamplerControls sampler_;
    TMSampleBuffer ownSample_;  // played when the owner gives none
    TMSampleReader sampleReader_;
    std::array<TMEffect*, kEffectChoices> effects_{};  // by EffectChoice

    // Routing choices start unset (-1): the selected signals then read as 0.
    std::atomic<int32_t> carrier_{-1}, modulator_{-1}, effect_{0};
    std::atomic<float> mix_{1.0f};
    std::atomic<bool> synthOn_{false};
    std::atomic<bool> dirty_{true};
    Routing routing_;

    float requestedRate_ = 44100.0f;
    double hostTempo_ = 120.0;
    bool playing_ = false;
    float meterFallPerFrame_ = 0.0f;
    int32_t setupCount_ = 0;

    alignas(64) float effectL_[kControlInterval] = {};
    alignas(64) float effectR_[kControlInterval] = {};
    int32_t pendingFrames_ = 0;
    alignas(64) float samplerL_[kControlInterval] = {};
    alignas(64) float samplerR_[kControlInterval] = {};
    float synthHeld_ = 0.0f;
    float antiDenormal_;  // anti-denormal offset, about 1e-8, sign flips every frame

    alignas(16) float meterPeak_[4] = {};  // held peak per meter (see Meter)
    alignas(16) float meterStep_[4] = {};  // its fall per frame
    std::array<std::atomic<float>, 4> meterDisplay_{};
    BandLevelTap bandLevels_;
    float dcPrevIn_[2] = {0.0f, 0.0f};
    float dcPrevOut_[2] = {0.0f, 0.0f};

    std::atomic<uint8_t> loading_{0};
    std::atomic<uint8_t> processing_{0};
    // Debug builds only: threads inside process, and those of them past the loading check.
    std::atomic<int32_t> callsInside_{0};
    std::atomic<int32_t> callsWorking_{0};
};

}  // namespace kf
