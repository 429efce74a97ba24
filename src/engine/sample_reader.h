// Sampler playback: renders the loaded sample into two 32-frame buffers at every control
// block, started by a rise of the trigger, transposed, scaled by the sampler gain and
// optionally looped. The engine then takes one frame per sample from those buffers.
//
// The sample's markers choose what plays: a start plays from the start marker, and a loop
// runs from the start marker to the end marker (the whole sample when the markers do not
// fit it). They are read afresh at every control block, so a marker moved while the sample
// plays takes effect at once.
//
// Threads: controlBlock() and refill() run on the audio thread only; they never allocate,
// lock or wait. The observers are meant for the audio thread and for tests.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/sample_buffer.h"
#include "common/system_info.h"

namespace kf {

class TMSampleReader {
  public:
    static constexpr int32_t kBlock = kControlInterval;

    // The instance's sampler values as they stand at this control block.
    struct Controls {
        float trigger = 0.0f;   // 1 while the trigger source's value is above 0, else 0
        float gain = 0.0f;      // trigger value x sampler level; applied to the whole block
        float pitch = 0.0f;     // transposition in semitones, -24 to 24
        int32_t loopCount = 0;  // 0 plays once, -1 loops for ever; taken at each start
    };

    // Keeps both references for its whole life; the sample may be replaced (under its
    // hand-shake) at any time, never destroyed while the reader lives.
    TMSampleReader(const TMSystemInfo& info, TMSampleBuffer& sample);
    TMSampleReader(const TMSampleReader&) = delete;
    TMSampleReader& operator=(const TMSampleReader&) = delete;

    // One control block: a rise of the trigger since the last block restarts the sample from
    // frame 0; otherwise a playing sample goes on. All 32 frames of both buffers are written:
    // rendered audio, or zeros when nothing plays, the sample is empty or is being replaced.
    void controlBlock(const Controls& controls);
    // controlBlock(), then copies the 32 frames of each buffer to left and right.
    void refill(const Controls& controls, float* left, float* right);

    const float* left() const { return left_; }
    const float* right() const { return right_; }

    double position() const { return position_; }  // frames, fractional
    float rate() const { return rate_; }           // frames advanced per output frame
    float pitch() const { return pitch_; }         // semitones last applied
    float level() const { return level_; }
    bool playing() const { return playing_; }
    bool ended() const { return ended_; }
    double loopStart() const { return loopStart_; }
    double loopEnd() const { return loopEnd_; }
    int32_t loopsRemaining() const { return loopsRemaining_; }

  private:
    // The sample's buffers as seen between beginRead() and endRead().
    struct View {
        const int16_t* left;
        const int16_t* right;  // null when the sample is mono
        int32_t frames;
    };

    void updateRate(float pitch);
    // Loop points from the sample's markers, limited to the sample.
    void takeMarkers(const View& view);
    // Renders n frames into the buffers from offset o, handling loop and end points.
    void render(const View& view, int32_t n, int32_t o);
    // m frames of linear interpolation from the current position into offset o.
    void renderRun(const View& view, int32_t m, int32_t o);
    void zero(int32_t from, int32_t count);

    const TMSystemInfo& info_;
    TMSampleBuffer& sample_;

    alignas(16) float left_[kBlock] = {};
    alignas(16) float right_[kBlock] = {};

    // Positions in double: a float has no fractional frames left past 2^24 frames (6 min 20 s
    // at 44.1 kHz), and a sample may hold 2^27, so pitch and timing would drift there.
    double position_ = 0.0;
    float rate_ = 1.0f;
    bool playing_ = false;
    bool ended_ = false;
    double loopStart_ = 0.0;
    double loopEnd_ = 0.0;
    int32_t loopsRemaining_ = 0;
    int32_t loopCount_ = 0;
    float pitch_ = 0.0f;
    float level_ = 0.0f;
    float previousTrigger_ = 0.0f;

    // Scratch of one run, kept here so the audio path needs no large stack frame.
    alignas(16) int32_t scratchIndex_[kBlock] = {};
    alignas(16) float scratchFrac_[kBlock] = {};
    alignas(16) float scratchA_[kBlock] = {};  // raw value at the index
    alignas(16) float scratchB_[kBlock] = {};  // raw value one frame later
    alignas(16) float scratchOut_[kBlock] = {};
};

}  // namespace kf
