// The sample rates the engine runs at. A host's rate outside them is not taken over: the
// engine keeps the rate it had, so everything it plays would be off pitch and tempo.
#pragma once

namespace kf {

inline constexpr int kLowestSampleRate = 11050;    // Hz
inline constexpr int kHighestSampleRate = 196000;  // Hz

}  // namespace kf
