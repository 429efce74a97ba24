// The vocoder proper: one synthesis bank and two analysis banks of 32 bands, each band two
// cascaded Chamberlin state-variable band-pass stages, with a follower per analysis band whose
// envelope weights the synthesis bands into the two outputs. Two banks share these states:
// the classic one (a peak follower ramped at control rate, broad bands on a cubic layout set
// by focus and response) and the articulate one (narrow log-spaced bands, a short smoothed
// follower, a pre-emphasised carrier and a consonant path), made for speech to stay clear.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "common/system_info.h"
#include "engine/vocoder_kernel.h"

namespace kf {

class VocoderBank {
  public:
    static constexpr int kBands = vocoder::kBands;

    explicit VocoderBank(const TMSystemInfo& info);

    // Parameter setters take the normalised value (clamped to 0..1, NaN as 0). They may be called
    // from any thread; the rebuilt tables reach the audio path at the start of the next processed
    // chunk (applyPending), so the audio thread never reads a table while it is being rebuilt.
    // Each reads the sample rate from the TMSystemInfo, so call them again after a rate change.

    // Band spacing w = 0.1 + 1.9v; rebuilds u[k], fa[k] and (through the shift) fs[k]. Below
    // 44.1 kHz a coefficient that would make a band unstable is held at the band's stable limit.
    void setFocus(float v);
    // Synthesis offset s = 0.25v - 0.125 in coefficient units; rebuilds fs[k].
    void setShift(float v);
    // Release 120 - 110v ms and resonance of the lowest and upper-edge bands; rebuilds q1, q2, c
    // and, since the stable limit depends on the damping, fa and fs.
    void setResponse(float v);

    // The articulate bank (true) or the classic one. A change clears the filter and follower
    // states: each bank's states mean nothing to the other, and a narrow band's ringing would
    // otherwise sound on in a bank that has no use for it.
    void setArticulate(bool on);
    // The articulate bank's consonant path, 0..1 (NaN as 0): the voice's own band above the
    // bank mixed into the outputs, and noise into the upper synthesis bands while the voice
    // hisses (an unvoiced sound: more level at the top of the bank than at its bottom).
    void setConsonants(float v);

    // Rebuilds the rate-dependent tables from the last values set (after a sample-rate change).
    void updateRate();

    // Copies tables changed by the setters into the working set. Audio thread only.
    void applyPending();

    // Control block: new gain ramp steps for the right, then the left analysis bank (classic);
    // the consonant gate's new target (articulate).
    void controlBlock();

    // Runs n frames (0..32, all within one control block). anaL/anaR are the analysis inputs,
    // syn the synthesis input; offset is the anti-denormal offset of the first frame, its sign
    // flipping every frame. Writes the two vocoder outputs (classic: already scaled by 0.0625).
    // When both analysis inputs are the same buffer and the two analysis banks hold the same
    // state, the right bank is not run again: it takes the left one's results and state, which
    // are the bits it would have computed.
    void process(const float* syn, const float* anaL, const float* anaR, float offset, float* outL,
                 float* outR, int32_t n);

    // Records the filter and follower states (not the coefficients) as audio history, so a
    // suspend silences the bands and their held envelopes at once.
    void registerHistory(StateRegistry& registry);

    // Vector width used by process; defaults to the widest the CPU supports.
    void setIsa(vocoder::Isa isa);
    vocoder::Isa isa() const { return isa_; }
    static bool isaSupported(vocoder::Isa isa);
    static vocoder::Isa bestIsa();

    // Derived values, as last computed by the setters (not necessarily applied yet).
    float spacing() const { return spacing_.load(std::memory_order_relaxed); }
    float shiftAmount() const { return shift_.load(std::memory_order_relaxed); }
    float releaseMs() const { return releaseMs_.load(std::memory_order_relaxed); }
    float resonanceAmount() const { return resonance_.load(std::memory_order_relaxed); }
    float u(int k) const { return load(staged_.u, k); }
    float uShifted(int k) const { return load(staged_.uShifted, k); }
    float fa(int k) const { return load(staged_.fa, k); }
    float fs(int k) const { return load(staged_.fs, k); }
    float q1(int k) const { return load(staged_.q1, k); }
    float q2(int k) const { return load(staged_.q2, k); }
    float releaseFactor() const { return load(staged_.release, 0); }
    bool articulate() const { return articulate_.load(std::memory_order_relaxed); }
    // The articulate bank's tables, as last computed.
    float articulateCentre(int k) const;  // Hz
    float articulateFa(int k) const { return load(staged_.artFa, k); }
    float articulateFs(int k) const { return load(staged_.artFs, k); }
    float articulateQ(int k) const { return load(staged_.artQ, k); }

    // Working state, for tests and meters. Audio thread only.
    const vocoder::State& state() const { return state_; }

  private:
    struct Staged {
        std::array<float, kBands> u{}, uShifted{}, fa{}, fs{}, q1{}, q2{}, release{};
        std::array<float, kBands> limit{};  // largest stable frequency coefficient per band
        std::array<float, kBands> artFa{}, artFs{}, artQ{}, artKeep{}, artTake{};
    };
    static float load(const std::array<float, kBands>& a, int k);
    static void store(std::array<float, kBands>& a, int k, float v);
    void rebuildShift();         // uShifted from u and the shift, then the coefficients
    void rebuildCoefficients();  // fa, fs from u, uShifted, the rate and the stable limits
    void rebuildArticulate();    // the articulate tables from the rate, the shift and the consonants
    bool banksAgree() const;     // the two analysis banks hold the same state

    const TMSystemInfo& info_;
    Staged staged_;
    std::atomic<float> spacing_{0.0f}, shift_{0.0f}, releaseMs_{0.0f}, resonance_{0.0f};
    std::atomic<float> focusValue_{0.5f}, responseValue_{0.5f};  // last normalised values
    std::atomic<float> consonants_{0.0f}, highF_{0.0f}, highGain_{0.0f}, noiseGain_{0.0f};
    std::atomic<bool> articulate_{false};
    std::atomic<bool> dirty_{false};
    vocoder::Isa isa_ = vocoder::Isa::Sse2;
    bool running_ = false;           // the bank the audio path runs: articulate (true) or classic
    bool rightMirrorsLeft_ = false;  // the last pass ran the left bank alone and copied it
    vocoder::State state_;
};

}  // namespace kf
