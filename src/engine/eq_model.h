// The master EQ's bands at sample rates other than the one its split was made for. The split is
// a state-variable filter whose fixed coefficient gives its character at 44.1 kHz, including
// the lift its high band gets near half that rate; run unchanged at another rate it moves up or
// down with the rate and the tone of every preset changes. Instead, at other rates the middle
// and low bands are fitted (least squares on their complex responses from 20 Hz to 16 kHz, or to
// 0.36 x the rate below 44.1 kHz) by filters of the new rate sharing one denominator, and the
// high band is the input minus those two, so the three still add up to the input exactly.
#pragma once

#include <array>

namespace kf {

struct EqBandModel {
    // 1 + a1 z^-1 + a2 z^-2 + a3 z^-3, shared by both bands.
    std::array<double, 3> a{};
    // Numerators (z^0 .. z^-3) of the middle and the low band.
    std::array<double, 4> mid{}, low{};
};

// The fitted bands at `sampleRate` for the split coefficient `split` (made for 44100 Hz);
// false (the model untouched) when no stable fit exists there. Takes a few milliseconds: call
// it at set-up, never on the audio thread.
bool fitEqBands(double sampleRate, double split, EqBandModel& model);

}  // namespace kf
