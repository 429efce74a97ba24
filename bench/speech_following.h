// How well a processed signal keeps the syllable and formant motion of a spoken voice, and
// where its energy sits. Used to judge the factory presets on the demo material.
//
// The speech-following figure compares short-time band envelopes: 2048-sample Hann frames
// every 10 ms, the magnitudes of 15 one-third-octave bands centred at 150 x 2^(k/3) Hz
// (edges at +-1/6 octave), frames more than 40 dB below the voice's loudest dropped in
// both signals, and, over every run of 38 consecutive kept frames (about 384 ms), the
// correlation of the voice's and the output's magnitudes in each band. The figure is the
// mean of those correlations: 1 when the output's band envelopes move exactly as the
// voice's do, about 0 when they are unrelated. It is the arrangement of short-time
// objective intelligibility measures without their clipping step, so a loud or
// distorted output is not excused.
#pragma once
#include <span>
#include <vector>

namespace kf::measure {

// The rate the frame and hop lengths are meant for; other rates scale the band centres.
constexpr double kMeasureRate = 44100.0;

// `output` is one signal of the same length as `voice` (extra samples are ignored, missing
// ones count as silence): a stereo output is judged by its mono sum (monoSum), as a listener
// on one speaker or a phone hears it, so a stereo image that cancels in mono is not excused.
// Returns 0 when the voice has no frame to compare.
double speechFollowing(std::span<const float> voice, std::span<const float> output,
                       double sampleRate = kMeasureRate);

// (left + right) / 2, sample by sample, over the shorter of the two.
std::vector<float> monoSum(std::span<const float> left, std::span<const float> right);

// The share of the signal's energy between `lowHz` and `highHz`, in dB (0 dB: all of it),
// from the same windowed frames. -inf for silence.
double bandShareDb(std::span<const float> signal, double lowHz, double highHz,
                   double sampleRate = kMeasureRate);

}  // namespace kf::measure
