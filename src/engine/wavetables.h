// The carrier synthesizer's six single-cycle waves. Each is 1024 points with a companion slope
// (the step to the next point, wrapping at the end of the cycle), so a reader interpolates with
// one multiply-add and never special-cases the last entry. Built once per process on first use,
// read-only afterwards, shared by every instance.
//
// Each wave comes in band-limited levels a third of an octave apart: level 0 is the stored wave
// with all its 512 harmonics, level k keeps the harmonics up to 512 x 2^(-k/3) unchanged and
// drops the rest. A reader picks the level whose harmonics all stay below half the sample rate,
// so high notes do not fold harmonics back into the audio band, while every harmonic a note can
// carry below 0.79 x (half the rate) is still there (17.5 kHz at 44.1 kHz).
#pragma once

#include <array>
#include <cstdint>

namespace kf {

inline constexpr int32_t kWaveTableSize = 1024;
inline constexpr int32_t kWaveTableMask = kWaveTableSize - 1;

enum class Wave : int32_t { kSine = 0, kSaw, kSquare, kTriangle, kSoftSquare, kSoftSaw };
inline constexpr int32_t kWaveCount = 6;
inline constexpr int32_t kWaveLevels = 28;  // down to the fundamental alone

// One table entry: the value and slope = value[(i + 1) mod 1024] - value[i]. Kept side by side
// because every read needs both; one cache line serves eight entries.
struct WavePoint {
    float value;
    float slope;
};

struct Wavetable {
    std::array<WavePoint, kWaveTableSize> point;

    float value(int32_t i) const { return point[static_cast<std::size_t>(i)].value; }
    float slope(int32_t i) const { return point[static_cast<std::size_t>(i)].slope; }
    // Linear interpolation at a position 0 <= pos <= 1024 (table entries; 1024 wraps to 0).
    float at(float pos) const {
        const int32_t n = static_cast<int32_t>(pos);
        const WavePoint& p = point[static_cast<std::size_t>(n & kWaveTableMask)];
        return p.value + p.slope * (pos - static_cast<float>(n));
    }
};

// The table of a wave at a level (0 .. kWaveLevels - 1). The first call builds every wave and
// level (some tens of milliseconds); call it once outside the audio thread (CarrierSynth's
// constructor does) so the audio path only ever reads.
const Wavetable& wavetable(Wave wave, int32_t level = 0);

// Every level of a wave, level 0 first (built as wavetable() builds them).
using WaveLevels = std::array<const Wavetable*, kWaveLevels>;
const WaveLevels& waveLevels(Wave wave);

// The highest harmonic a level keeps.
int32_t waveLevelHarmonics(int32_t level);

// The level with the most harmonics none of which reaches half the sample rate when a table is
// read at `cyclesPerFrame` (cycles of the wave per output frame). Level 0 for 0 or less and for
// NaN; the last level (the fundamental alone) from half a cycle per frame on.
int32_t waveLevelFor(float cyclesPerFrame);

}  // namespace kf
