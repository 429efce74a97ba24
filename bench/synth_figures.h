// Figures of the carrier synthesizer and the master EQ that the benchmarks print and the tests
// hold to: clicks at note changes, aliasing of the table playback, and how far the EQ's response
// moves with the sample rate.
#pragma once

#include <vector>

namespace kf::figures {

// Largest sample-to-sample step of one sine voice's output (level 0.5, velocity 1, A4) in the
// control block after a note event, over the largest step of the steady note, in dB (0 dB: the
// event is no rougher than the note itself). The output passes the synthesizer's high-pass at
// its lowest cutoff, which leaves A4 alone.
struct NoteChangeSteps {
    double noteOn;       // A4 starts from silence
    double noteOff;      // A4 stops, nothing else held
    double voiceChange;  // A3 and A4 held, A3 released: A4 moves to the first voice
};
NoteChangeSteps noteChangeSteps();

// The oscillator sum (before the filter) of one saw voice (the full saw, second voice) playing
// `note`, 65536 frames after 4096 frames of settling, under a Blackman-Harris window.
std::vector<float> renderSaw(float note, float sampleRate);

struct AliasFigures {
    double relativeToTotalDb;  // energy outside the harmonics over all energy
    double worstComponentDbc;  // the strongest non-harmonic component over the fundamental
};
// Everything in the spectrum of renderSaw that is not a harmonic of the note (more than 6 bins
// from every harmonic below Nyquist) counts as aliasing.
AliasFigures sawAlias(float note, float sampleRate);

// The largest difference, in dB, between the harmonics of renderSaw below `upToHz` and the same
// harmonics of the unlimited saw table as linear interpolation plays them.
double sawHarmonicChangeDb(float note, float sampleRate, double upToHz);

// The largest difference, in dB, between the master EQ's response at `sampleRate` and at 44100 Hz
// from 20 Hz to 16 kHz (to 0.36 x the rate below 44.1 kHz), over flat, each band alone at
// +-12 dB, and mixed settings.
double eqRateDeviationDb(float sampleRate);

}  // namespace kf::figures
