// The one table of every named value of the plug-in: its stored identifier, tag, name and
// flags, the value it starts with, the law that turns its normalised value into a working
// value, where that value is applied, its place in the engine set-up's re-send order and how
// the editor's readout shows it. The parameter model, the engine, the insert effects, the
// chunk records and the editor all read it; nothing else restates these facts. chunkId
// values are carried by saved projects and preset files: never renumber them.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "common/numeric.h"

namespace kf {
// Tags: host parameter indices 0-43, internal control tags 44-125, then the host parameters
// added since (their host indices follow on from 44; see hostIndexOfTag).
namespace tag {
enum : int32_t {
    filtertype = 0,
    in1_gate = 1,
    in1_comp_ratio = 2,
    in1_comp_speed = 3,
    in1_gain = 4,
    in2_gate = 5,
    in2_comp_ratio = 6,
    in2_comp_speed = 7,
    in2_gain = 8,
    focus = 9,
    shift = 10,
    response = 11,
    modwheel = 12,
    loop = 13,
    retrigger = 14,
    waveform = 15,
    noise = 16,
    octave = 17,
    pitchbend_range = 18,
    pulswidth = 19,
    cutoff = 20,
    resonance = 21,
    synth_level = 22,
    mix = 23,
    eq_low = 24,
    eq_mid = 25,
    eq_high = 26,
    mastercomp = 27,
    compspeed = 28,
    master_level = 29,
    reverb_room = 30,
    reverb_damp = 31,
    reverb_drywet = 32,
    delaytime = 33,
    delay_feedback = 34,
    delay_drywet = 35,
    phaser_rate = 36,
    phaser_feedback = 37,
    phaser_stages = 38,
    lofi_bitrate = 39,
    lofi_samplerate = 40,
    lofi_distortion = 41,
    sampler_pitch = 42,
    sampler_level = 43,
    effects_choice = 55,
    sampler = 78,
    in_a = 87,
    carrier_mode = 91,
    modulator_mode = 95,
    in_b = 99,
    synthoff = 102,
    pitchbend = 104,
    watisndit = 109,
    transpose_up = 112,
    transpose_down = 113,
    settings_c = 119,
    basics_c = 120,
    tnt_c = 122,
    list = 125,
    articulate = 126,
    consonants = 127,
};
}  // namespace tag

// The insert effect the effects_choice parameter picks; the engine indexes its effects by it.
enum EffectChoice : int32_t {
    kNoEffectChoice = 0,
    kReverbChoice = 1,
    kDelayChoice = 2,
    kPhaserChoice = 3,
    kLofiChoice = 4,
    kEffectChoices = 5
};

constexpr int32_t kNumParameters = 61;
constexpr int32_t kNumStoredParameters = 52;
constexpr int32_t kMaxTag = 127;
// Whether a number is in the range of tags (not every tag in it is a parameter).
constexpr bool isTag(int32_t t) {
    return t >= 0 && t <= kMaxTag;
}
// The first 44 host parameters have their host index as tag. Those added later take host
// indices from 44 on and tags from 126 on, in the same order, so that the internal tags
// 44-125 keep their numbers.
constexpr int32_t kFirstAddedHostIndex = 44;
constexpr int32_t kFirstAddedTag = 126;
constexpr int32_t kNumHostParameters = kFirstAddedHostIndex + (kMaxTag - kFirstAddedTag + 1);
// Stored parameters from this identifier on were added after states and presets existed:
// one that a state lacks is loaded as its initial value, the value that sounds as before.
constexpr int32_t kFirstAddedChunkId = 51;

// The tag behind a host index; an index that is no host parameter comes back as it is.
constexpr int32_t tagOfHostIndex(int32_t index) {
    return index >= kFirstAddedHostIndex && index < kNumHostParameters
               ? kFirstAddedTag + (index - kFirstAddedHostIndex)
               : index;
}
// The host index of a tag, or -1 for a tag that is no host parameter.
constexpr int32_t hostIndexOfTag(int32_t tag) {
    if (tag >= 0 && tag < kFirstAddedHostIndex) return tag;
    if (tag >= kFirstAddedTag && tag <= kMaxTag) return kFirstAddedHostIndex + (tag - kFirstAddedTag);
    return -1;
}
constexpr int32_t kNotStored = -1;
constexpr float kNoInitialValue = -1.0f;  // the default program sets it

// Normalised value v (0..1) to working value. The expressions keep the order in which the
// engine has always evaluated them, so working values are the same to the bit.
struct Law {
    enum Kind : uint8_t {
        kNone,     // no working value: the tag is not updated at all
        kLinear,   // offset + scale·v
        kStepped,  // trunc((offset + scale·v) / step) · step
        kChoice,   // trunc(min(scale·v + offset, last)): choices 0..last
        kLimit,    // v limited to offset..last
        kCube,     // v³ (equal-power wet amounts)
    };
    Kind kind = kNone;
    float offset = 0.0f;
    float scale = 1.0f;
    float step = 1.0f;
    float last = 0.0f;

    float operator()(float v) const {
        switch (kind) {
            case kLinear:
                return offset + scale * v;
            case kStepped:
                return std::trunc((offset + scale * v) / step) * step;
            case kChoice:
                return static_cast<float>(truncToInt(std::min(scale * v + offset, last)));
            case kLimit:
                return std::clamp(v, offset, last);
            case kCube:
                return v * v * v;
            default:
                return 0.0f;
        }
    }
};

namespace law {
constexpr Law none{};
constexpr Law unit{Law::kLinear, 0.0f, 1.0f};
constexpr Law linear(float offset, float scale) {
    return {Law::kLinear, offset, scale};
}
constexpr Law stepped(float offset, float scale, float step) {
    return {Law::kStepped, offset, scale, step};
}
// n choices; `bias` lifts exact fractions over their boundary (5 × 0.2 + 0.001 is choice 1).
constexpr Law choice(int n, float bias = 0.0f) {
    return {Law::kChoice, bias, static_cast<float>(n), 1.0f, static_cast<float>(n - 1)};
}
constexpr Law limit(float lo, float hi) {
    return {Law::kLimit, lo, 1.0f, 1.0f, hi};
}
constexpr Law cube{Law::kCube};

// Laws the engine's units apply themselves as well (they keep normalised setters so that a
// rate change can recompute from what was set).
constexpr Law gate = stepped(0.0f, 1.0f, 0.0001f);          // threshold g, its fourth power acts
constexpr Law inputGain = linear(0.0f, 8.0f);               // linear gain 0..8
constexpr Law inputSpeed = linear(180.0f, -160.0f);         // detector time 180..20 ms
constexpr Law focus = linear(0.1f, 1.9f);                   // band spacing 0.1..2
constexpr Law shift = linear(-0.125f, 0.25f);               // band coefficient offset ±0.125
constexpr Law response = linear(120.0f, -110.0f);           // band release 120..10 ms
constexpr Law waveform = stepped(0.0f, 4.0f, 0.01f);        // morph position 0..4
constexpr Law octave = stepped(-24.0f, 48.0f, 12.0f);       // -24, -12, 0, 12, 24 semitones
constexpr Law bendRange = stepped(0.0f, 12.0f, 1.0f);       // whole semitones 0..12
constexpr Law bend = linear(-1.0f, 2.0f);                   // -1..1 of the range
constexpr Law pulseWidth = linear(-1.0f, 2.0f);             // -1..1
constexpr Law cutoff = linear(0.3f, 0.69f);                 // 0.3..0.99, coefficient c⁴
constexpr Law resonance = linear(0.0f, 0.9f);               // 0..0.9
constexpr Law eqGain = linear(-12.0f, 24.0f);               // ±12 dB
constexpr Law masterAmount = linear(0.0f, 4.0f);            // compressor amount and level 0..4
constexpr Law masterSpeed = linear(200.0f, -170.0f);        // detector time 200..30 ms
constexpr Law samplerPitch = stepped(-24.0f, 48.0f, 0.1f);  // ±24 semitones in 0.1 steps
constexpr Law delayTime = stepped(0.025f, 0.975f, 0.025f);  // 0.025..1 of a bar
constexpr Law filterType = choice(3);                       // high-, band-, low-pass
constexpr Law trigger = choice(4);                          // the sampler's trigger source
constexpr Law loop = choice(2);                             // once or for ever
constexpr Law phaserRate = stepped(0.0f, 1.0f, 0.025f);     // 0..1 in 0.025 steps
}  // namespace law

// Where a working value goes besides the parameter's record (a bit set).
enum Sink : uint8_t {
    kNoSink = 0,
    kToEngine = 1,   // Engine::applyParameter: vocoder, input stages, master, synth, sampler, routing
    kToEffects = 2,  // InsertEffects::setHostParameter, whether or not the effect is chosen
    kToModes = 4,    // the parameter model's mode rules: dependent values, an editor redraw
    kToEditor = 8,   // the editor is asked to redraw
};

// How a value reads on the editor's panel: in the unit a musician expects, worked out from
// what its working value does rather than from the raw 0..1.
namespace display {
enum Kind : uint8_t {
    none,             // no readout
    percent,          // the value 0..1 as 0..100 %
    scaledPercent,    // the working value as a percentage (amounts the law scales)
    spacingPercent,   // band spacing 0.1..2 as 5..100 %
    shiftHertz,       // the band shift as the frequency every band moves by
    response,         // band release 120..10 ms as a response amount 0..110
    gainDecibels,     // a linear gain
    gateDecibels,     // a gate threshold, whose fourth power acts
    decibels,         // a working value in decibels already
    ratioDecibels,    // a compression ratio on a 0..12 scale
    milliseconds,     // a working value in milliseconds
    semitones,        // a working value in semitones
    cutoffKilohertz,  // a filter coefficient c, which acts as c⁴ × half the sample rate
    wavePosition,     // the morph position 0..4 between the five waves
    bitDepth,         // the lo-fi depth as 32..0 bits
    effectText,       // the effect's own words (a note length, a fraction of a bar, a rate)
};
}  // namespace display

struct ParameterRow {
    int32_t chunkId;
    int32_t tag;
    const char* name;
    bool isSwitch;
    float initial;  // set before the default program; kNoInitialValue when it sets it
    Law law;
    uint8_t sinks;
    int8_t setupRank;  // place in the set-up's re-send order; -1: not re-sent
    display::Kind readout = display::none;
};

namespace row {
constexpr float kNone = kNoInitialValue;
constexpr uint8_t kEngineAndModes = kToEngine | kToModes;
constexpr uint8_t kEngineAndEditor = kToEngine | kToEditor;
}  // namespace row

// In registration order: the stored values by ascending chunkId (the order chunks are
// written in), then the values that are never stored. The set-up re-sends in rank order:
// the routing and modes first, so that every value after them lands in its final context.
inline constexpr std::array<ParameterRow, kNumParameters> kParameterRows = {{
    // chunkId, tag, name, switch, initial, law, sinks, set-up rank[, how the readout shows it]
    {1, tag::focus, "focus", false, row::kNone, law::focus, kToEngine, 11, display::spacingPercent},
    {2, tag::response, "response", false, row::kNone, law::response, kToEngine, 10, display::response},
    {3, tag::shift, "shift", false, row::kNone, law::shift, kToEngine, 13, display::shiftHertz},
    {4, tag::mix, "mix", false, row::kNone, law::limit(0.0f, 1.0f), kToEngine, 12, display::percent},
    {5, tag::synth_level, "synth_level", false, row::kNone, law::unit, kToEngine, 16, display::gainDecibels},
    {6, tag::pitchbend_range, "pitchbend_range", false, row::kNone, law::bendRange, kToEngine, 33},
    {7, tag::octave, "octave", false, row::kNone, law::octave, kToEngine, 34},
    {8, tag::noise, "noise", false, row::kNone, law::unit, kToEngine, 17, display::percent},
    {9, tag::cutoff, "cutoff", false, row::kNone, law::cutoff, kToEngine, 18, display::cutoffKilohertz},
    {10, tag::resonance, "resonance", false, row::kNone, law::resonance, kToEngine, 14,
     display::scaledPercent},
    {11, tag::pulswidth, "pulswidth", false, row::kNone, law::pulseWidth, kToEngine, 15,
     display::scaledPercent},
    {12, tag::waveform, "waveform", false, row::kNone, law::waveform, kToEngine, 19, display::wavePosition},
    {13, tag::filtertype, "filtertype", false, row::kNone, law::filterType, kToEngine, 32},
    {14, tag::effects_choice, "effects_choice", false, 0.08f, law::choice(kEffectChoices, 0.001f),
     row::kEngineAndModes, 0},
    {15, tag::phaser_rate, "Rate", false, row::kNone, law::phaserRate, kToEffects, 47, display::effectText},
    {16, tag::phaser_feedback, "Feedback", false, row::kNone, law::linear(0.0f, 0.9f), kToEffects, 48,
     display::scaledPercent},
    {17, tag::phaser_stages, "Stages", false, row::kNone, law::unit, kToEffects, 49, display::percent},
    {18, tag::reverb_room, "Room", false, row::kNone, law::unit, kToEffects, 41, display::percent},
    {19, tag::reverb_damp, "Damp", false, row::kNone, law::unit, kToEffects, 42, display::percent},
    {20, tag::reverb_drywet, "DryWet", false, row::kNone, law::cube, kToEffects, 43, display::percent},
    {21, tag::delay_drywet, "DryWet", false, row::kNone, law::cube, kToEffects, 46, display::percent},
    {22, tag::delaytime, "delaytime", false, row::kNone, law::delayTime, kToEffects, 44, display::effectText},
    {23, tag::delay_feedback, "Feedback", false, row::kNone, law::unit, kToEffects, 45, display::percent},
    {24, tag::lofi_bitrate, "Bitrate", false, row::kNone, law::linear(0.0f, 0.5f), kToEffects, 50,
     display::bitDepth},
    {25, tag::lofi_samplerate, "Samplerate", false, row::kNone, law::linear(0.0f, 0.25f), kToEffects, 51,
     display::effectText},
    {26, tag::lofi_distortion, "Distortion", false, row::kNone, law::unit, kToEffects, 52, display::percent},
    {27, tag::eq_high, "eq_high", false, row::kNone, law::eqGain, kToEngine, 35, display::decibels},
    {28, tag::eq_mid, "eq_mid", false, row::kNone, law::eqGain, kToEngine, 36, display::decibels},
    {29, tag::eq_low, "eq_low", false, row::kNone, law::eqGain, kToEngine, 37, display::decibels},
    {30, tag::sampler_pitch, "sampler_pitch", false, row::kNone, law::samplerPitch, kToEngine, 24,
     display::semitones},
    {31, tag::sampler_level, "sampler_level", false, row::kNone, law::unit, kToEngine, 25,
     display::gainDecibels},
    {32, tag::retrigger, "retrigger", false, row::kNone, law::trigger, kToEngine, 26},
    {33, tag::sampler, "Sampler", false, row::kNone, law::none, kNoSink, -1},
    {34, tag::loop, "loop", true, row::kNone, law::loop, kToEngine, 27},
    {35, tag::in1_gain, "in1_gain", false, row::kNone, law::inputGain, kToEngine, 20, display::gainDecibels},
    {36, tag::in1_comp_ratio, "in1_comp_ratio", false, row::kNone, law::unit, kToEngine, 22,
     display::ratioDecibels},
    {37, tag::in1_comp_speed, "in1_comp_speed", false, row::kNone, law::inputSpeed, kToEngine, 21,
     display::milliseconds},
    {38, tag::in1_gate, "in1_gate", false, row::kNone, law::gate, kToEngine, 23, display::gateDecibels},
    {39, tag::carrier_mode, "carrier_mode", false, 0.75f, law::choice(4, 0.001f), row::kEngineAndModes, 2},
    {40, tag::master_level, "master_level", false, row::kNone, law::masterAmount, kToEngine, 38,
     display::gainDecibels},
    {41, tag::mastercomp, "mastercomp", false, row::kNone, law::masterAmount, kToEngine, 40,
     display::gainDecibels},
    {42, tag::compspeed, "compspeed", false, row::kNone, law::masterSpeed, kToEngine, 39,
     display::milliseconds},
    {43, tag::modulator_mode, "modulator_mode", false, 0.2222223f, law::choice(3, 0.001f),
     row::kEngineAndModes, 3},
    {44, tag::in2_gain, "in2_gain", false, row::kNone, law::inputGain, kToEngine, 31, display::gainDecibels},
    {45, tag::in2_comp_ratio, "in2_comp_ratio", false, row::kNone, law::unit, kToEngine, 29,
     display::ratioDecibels},
    {46, tag::in2_comp_speed, "in2_comp_speed", false, row::kNone, law::inputSpeed, kToEngine, 28,
     display::milliseconds},
    {47, tag::in2_gate, "in2_gate", false, row::kNone, law::gate, kToEngine, 30, display::gateDecibels},
    {48, tag::in_b, "in_b", false, 0.5f, law::choice(2, 0.001f), row::kEngineAndEditor, 4},
    {49, tag::synthoff, "synthoff", false, 0.5f, law::choice(2, 0.001f), row::kEngineAndEditor, 5},
    {50, tag::modwheel, "modwheel", false, 0.12f, law::unit, kNoSink, 7},
    {51, tag::articulate, "articulate", true, 0.0f, law::choice(2), kToEngine, 53},
    {52, tag::consonants, "consonants", false, 0.0f, law::unit, kToEngine, 54, display::percent},
    {kNotStored, tag::in_a, "in_a", false, 0.5f, law::choice(2, 0.001f), row::kEngineAndEditor, 1},
    {kNotStored, tag::pitchbend, "pitchbend", false, 0.5f, law::bend, kToEngine, 8},
    {kNotStored, tag::watisndit, "watisndit", false, 0.0f, law::choice(2, 0.001f), kToModes, 6},
    {kNotStored, tag::transpose_up, "transpose_up", true, 0.0f, law::choice(2), kToEditor, -1},
    {kNotStored, tag::transpose_down, "transpose_down", true, 0.0f, law::choice(2), kToEditor, -1},
    {kNotStored, tag::settings_c, "settings_c", false, row::kNone, law::none, kNoSink, -1},
    {kNotStored, tag::basics_c, "basics_c", false, row::kNone, law::none, kNoSink, -1},
    {kNotStored, tag::tnt_c, "tnt_c", false, row::kNone, law::none, kNoSink, -1},
    {kNotStored, tag::list, "List", false, row::kNone, law::choice(2), kNoSink, 9},
}};

// The row of a tag, or null for a tag without one.
constexpr const ParameterRow* parameterRow(int32_t t) {
    for (const ParameterRow& r : kParameterRows)
        if (r.tag == t) return &r;
    return nullptr;
}

// The tags the engine set-up re-sends, in rank order.
inline constexpr auto kSetupOrder = [] {
    constexpr int32_t kCount = [] {
        int32_t n = 0;
        for (const ParameterRow& r : kParameterRows) n += r.setupRank >= 0;
        return n;
    }();
    std::array<int32_t, kCount> order{};
    order.fill(-1);
    for (const ParameterRow& r : kParameterRows)
        if (r.setupRank >= 0 && r.setupRank < kCount) order[static_cast<std::size_t>(r.setupRank)] = r.tag;
    return order;
}();
static_assert(std::find(kSetupOrder.begin(), kSetupOrder.end(), -1) == kSetupOrder.end(),
              "set-up ranks must number the re-sent parameters 0, 1, 2 ... without gaps or repeats");

}  // namespace kf
