#include "host/audio_feed.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace kf::host {

AudioFeed::AudioFeed(Plugin& plugin, std::vector<std::vector<float>> inputs, RenderSettings settings)
    : plugin_(plugin), inputs_(std::move(inputs)), settings_(std::move(settings)) {
    settings_.processLevel = ProcessLevel::Realtime;
}

void AudioFeed::start() {
    if (thread_.joinable()) return;
    plugin_.start(settings_.sampleRate, settings_.blockSize);
    stopRequested_.store(false);
    frames_.store(0);
    error_.clear();
    running_.store(true, std::memory_order_release);
    thread_ = std::thread([this] { run(); });
}

void AudioFeed::stop() {
    if (!thread_.joinable()) return;
    stopRequested_.store(true);
    thread_.join();
    plugin_.stop();
}

void AudioFeed::recordOutput(std::size_t frames) {
    if (recording_.load(std::memory_order_acquire) || frames == 0) return;
    recorded_.assign(frames, 0.0f);
    recordedFrames_ = 0;
    recordingDone_.store(false, std::memory_order_relaxed);
    recording_.store(true, std::memory_order_release);
}

std::vector<float> AudioFeed::takeRecording() {
    if (!recordingDone_.load(std::memory_order_acquire)) return {};
    recordingDone_.store(false, std::memory_order_relaxed);
    return std::move(recorded_);
}

void AudioFeed::keep(const float* left, int32_t n) {
    const std::size_t count = std::min(recorded_.size() - recordedFrames_, static_cast<std::size_t>(n));
    std::copy(left, left + count, recorded_.begin() + static_cast<std::ptrdiff_t>(recordedFrames_));
    recordedFrames_ += count;
    if (recordedFrames_ < recorded_.size()) return;
    recording_.store(false, std::memory_order_release);
    recordingDone_.store(true, std::memory_order_release);
}

void AudioFeed::run() {
    using Clock = std::chrono::steady_clock;
    const auto startTime = Clock::now();
    auto source = [this](int64_t pos, std::span<float* const> channels, int32_t n) {
        for (std::size_t c = 0; c < channels.size() && c < inputs_.size(); ++c) {
            const auto& in = inputs_[c];
            if (in.empty()) continue;
            for (int32_t i = 0; i < n; ++i)
                channels[c][i] = in[static_cast<std::size_t>((pos + i) % static_cast<int64_t>(in.size()))];
        }
    };
    // The sink keeps time: each block waits for the moment its last frame would have
    // played, so the plug-in runs as fast as a sound card would drive it, not faster.
    auto sink = [&](std::span<const float* const> out, int32_t n, std::string&) {
        if (!out.empty() && recording_.load(std::memory_order_acquire)) keep(out[0], n);
        const int64_t done = frames_.fetch_add(n, std::memory_order_acq_rel) + n;
        const auto due =
            startTime + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(static_cast<double>(done) / settings_.sampleRate));
        std::this_thread::sleep_until(due);
        return !stopRequested_.load();
    };
    std::string error;
    const bool finished =
        renderStream(plugin_, std::numeric_limits<int64_t>::max() / 2, settings_, {}, source, sink, error);
    if (!finished && !stopRequested_.load()) error_ = error.empty() ? "the audio thread stopped" : error;
    running_.store(false, std::memory_order_release);
}

}  // namespace kf::host
