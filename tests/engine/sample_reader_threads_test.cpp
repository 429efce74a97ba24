// Playback while another thread keeps replacing the sample and a third moves its markers:
// every block must come from one sample or be silent, never a mix and never freed memory.
// Meant to run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/sample_reader.h"
#include "state/sample_data.h"

namespace kf {
namespace {

TEST(SampleReaderThreads, ReplacingTheSampleWhilePlayingNeverTears) {
    TMSystemInfo info;
    TMSampleData sample;
    TMSampleReader reader(info, sample);

    // Constant samples: at gain 32768 every frame shows which sample it came from.
    const std::vector<int16_t> aLeft(64, 1000), aRight(64, 3000), bMono(40, -2000);
    std::atomic<bool> stop{false};
    std::atomic<int> replacements{0};
    std::thread loader([&] {
        while (!stop.load()) {
            sample.assignSample(aLeft.data(), aRight.data(), 64, 44100.0f);
            sample.assignSample(bMono.data(), nullptr, 40, 22050.0f);
            sample.clear();
            replacements.fetch_add(1);
        }
    });

    // The editor moves markers and draws overviews meanwhile: every overview comes from one
    // sample, and the markers the reader takes never reach outside the sample it plays.
    std::atomic<bool> tornOverview{false};
    std::thread editor([&] {
        for (int32_t i = 0; !stop.load(); ++i) {
            // Markers inside, beyond and before either sample, as a stale or corrupt state has.
            sample.setStartMarker(i % 70 - 3);
            sample.setEndMarker(i * 7 % 90 - 5);
            sample.snapLoopPoint(i % 2 == 0, i % 64);
            for (const auto& e : sample.overview(0, 0, 40, 8))
                if (e.min != e.max || (e.min != 1000 && e.min != -2000)) tornOverview.store(true);
        }
    });

    // Failures are collected, not asserted, so the threads are always joined.
    std::string failure;
    bool sawA = false, sawB = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int b = 0; failure.empty() && !(sawA && sawB && replacements.load() >= 100 && b >= 2000); ++b) {
        if (std::chrono::steady_clock::now() > deadline) break;
        // Rise every fourth block, so playback restarts after the sample was cleared.
        const float trigger = b % 4 == 3 ? 0.0f : 1.0f;
        reader.controlBlock({trigger, 32768.0f, 0.0f, -1});
        int kind = 0;  // 0 silent so far, 1 sample A, 2 sample B
        for (int k = 0; k < TMSampleReader::kBlock && failure.empty(); ++k) {
            const float l = reader.left()[k], r = reader.right()[k];
            if (l == 0.0f && r == 0.0f) continue;
            const int frameKind = l == 1000.0f && r == 3000.0f ? 1 : l == -2000.0f && r == -2000.0f ? 2 : -1;
            if (frameKind == -1 || (kind != 0 && kind != frameKind))
                failure = "block " + std::to_string(b) + " frame " + std::to_string(k) + ": " +
                          std::to_string(l) + ", " + std::to_string(r);
            kind = frameKind;
        }
        sawA = sawA || kind == 1;
        sawB = sawB || kind == 2;
    }
    stop.store(true);
    loader.join();
    editor.join();
    EXPECT_EQ(failure, "");
    EXPECT_FALSE(tornOverview.load());
    EXPECT_TRUE(sawA);
    EXPECT_TRUE(sawB);
    EXPECT_GE(replacements.load(), 100);
}

}  // namespace
}  // namespace kf
