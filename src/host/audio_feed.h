// A host's audio thread for a plug-in whose editor is open: a second thread calls
// processReplacing block after block at the pace of real time, feeding a looped input
// (or silence) and moving the transport, while the GUI thread opens, idles and closes the
// editor. The plug-in sees the two threads a real host gives it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "host/render.h"
#include "host/vst_host.h"

namespace kf::host {

class AudioFeed {
  public:
    // inputs[c] feeds plug-in input c, repeated from its start when it ends; missing or
    // empty channels are silence. settings.processLevel is reported as Realtime.
    AudioFeed(Plugin& plugin, std::vector<std::vector<float>> inputs, RenderSettings settings);
    ~AudioFeed() { stop(); }
    AudioFeed(const AudioFeed&) = delete;
    AudioFeed& operator=(const AudioFeed&) = delete;

    // Starts the plug-in (rate, block size, resume) on the calling thread, then the
    // audio thread. Does nothing when already running.
    void start();
    // Ends the audio thread after its current block and suspends the plug-in.
    void stop();

    // Frames processed since start().
    int64_t framesProcessed() const { return frames_.load(std::memory_order_acquire); }
    // False once the audio thread ended by itself; error() then says why.
    bool running() const { return running_.load(std::memory_order_acquire); }
    const std::string& error() const { return error_; }
    double sampleRate() const { return settings_.sampleRate; }

    // Keeps the next `frames` frames of the left output, for a listener on another thread.
    // Ignored while an earlier recording is still being filled.
    void recordOutput(std::size_t frames);
    // The recording, once it is complete; empty until then.
    std::vector<float> takeRecording();

  private:
    void run();
    // Audio thread: appends up to n frames of the left output to the recording.
    void keep(const float* left, int32_t n);

    Plugin& plugin_;
    const std::vector<std::vector<float>> inputs_;
    RenderSettings settings_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
    std::atomic<int64_t> frames_{0};
    std::string error_;  // written by the audio thread before running_ turns false
    // The recording: sized by the listener while `recording_` is off, filled by the audio
    // thread while it is on, which turns it off once the buffer is full.
    std::vector<float> recorded_;
    std::size_t recordedFrames_ = 0;  // audio thread only
    std::atomic<bool> recording_{false};
    std::atomic<bool> recordingDone_{false};
};

}  // namespace kf::host
