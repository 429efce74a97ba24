// The one table of every named value of the plug-in. Registration, the collections,
// the host strings and the chunk records are all built from it. chunkId values are
// carried by saved projects and preset files: never renumber them.
#pragma once

#include <array>
#include <cstdint>

namespace kf {

// Tags: host parameter indices 0-43, internal control tags 44-125.
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
};
}  // namespace tag

constexpr int32_t kNumHostParameters = 44;
constexpr int32_t kNumParameters = 59;
constexpr int32_t kNumStoredParameters = 50;
constexpr int32_t kMaxTag = 125;
constexpr int32_t kNotStored = -1;

struct ParameterSpec {
    int32_t chunkId;
    int32_t tag;
    const char* name;
    bool isSwitch;
};

// In registration order: the stored values by ascending chunkId (the order chunks are
// written in), then the values that are never stored.
inline constexpr std::array<ParameterSpec, kNumParameters> kParameterSpecs = {{
    {1, tag::focus, "focus", false},
    {2, tag::response, "response", false},
    {3, tag::shift, "shift", false},
    {4, tag::mix, "mix", false},
    {5, tag::synth_level, "synth_level", false},
    {6, tag::pitchbend_range, "pitchbend_range", false},
    {7, tag::octave, "octave", false},
    {8, tag::noise, "noise", false},
    {9, tag::cutoff, "cutoff", false},
    {10, tag::resonance, "resonance", false},
    {11, tag::pulswidth, "pulswidth", false},
    {12, tag::waveform, "waveform", false},
    {13, tag::filtertype, "filtertype", false},  // three filter types: not a toggle
    {14, tag::effects_choice, "effects_choice", false},
    {15, tag::phaser_rate, "Rate", false},
    {16, tag::phaser_feedback, "Feedback", false},
    {17, tag::phaser_stages, "Stages", false},
    {18, tag::reverb_room, "Room", false},
    {19, tag::reverb_damp, "Damp", false},
    {20, tag::reverb_drywet, "DryWet", false},
    {21, tag::delay_drywet, "DryWet", false},
    {22, tag::delaytime, "delaytime", false},
    {23, tag::delay_feedback, "Feedback", false},
    {24, tag::lofi_bitrate, "Bitrate", false},
    {25, tag::lofi_samplerate, "Samplerate", false},
    {26, tag::lofi_distortion, "Distortion", false},
    {27, tag::eq_high, "eq_high", false},
    {28, tag::eq_mid, "eq_mid", false},
    {29, tag::eq_low, "eq_low", false},
    {30, tag::sampler_pitch, "sampler_pitch", false},
    {31, tag::sampler_level, "sampler_level", false},
    {32, tag::retrigger, "retrigger", false},  // four trigger sources: not a toggle
    {33, tag::sampler, "Sampler", false},
    {34, tag::loop, "loop", true},
    {35, tag::in1_gain, "in1_gain", false},
    {36, tag::in1_comp_ratio, "in1_comp_ratio", false},
    {37, tag::in1_comp_speed, "in1_comp_speed", false},
    {38, tag::in1_gate, "in1_gate", false},
    {39, tag::carrier_mode, "carrier_mode", false},
    {40, tag::master_level, "master_level", false},
    {41, tag::mastercomp, "mastercomp", false},
    {42, tag::compspeed, "compspeed", false},
    {43, tag::modulator_mode, "modulator_mode", false},
    {44, tag::in2_gain, "in2_gain", false},
    {45, tag::in2_comp_ratio, "in2_comp_ratio", false},
    {46, tag::in2_comp_speed, "in2_comp_speed", false},
    {47, tag::in2_gate, "in2_gate", false},
    {48, tag::in_b, "in_b", false},
    {49, tag::synthoff, "synthoff", false},
    {50, tag::modwheel, "modwheel", false},
    {kNotStored, tag::in_a, "in_a", false},
    {kNotStored, tag::pitchbend, "pitchbend", false},
    {kNotStored, tag::watisndit, "watisndit", false},
    {kNotStored, tag::transpose_up, "transpose_up", true},
    {kNotStored, tag::transpose_down, "transpose_down", true},
    {kNotStored, tag::settings_c, "settings_c", false},
    {kNotStored, tag::basics_c, "basics_c", false},
    {kNotStored, tag::tnt_c, "tnt_c", false},
    {kNotStored, tag::list, "List", false},
}};

// Whether setParameter has anything to do for a tag: every registered value except the
// sample (stored through its own record) and the editor's page buttons.
constexpr bool hasEngineMapping(int32_t t) {
    if (t == tag::sampler || t == tag::settings_c || t == tag::basics_c || t == tag::tnt_c) return false;
    for (const ParameterSpec& spec : kParameterSpecs)
        if (spec.tag == t) return true;
    return false;
}

}  // namespace kf
