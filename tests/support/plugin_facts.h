// What a host sees of the plug-in through the binary interface, written out as text, so that
// the Linux and the Windows build are held to one committed description
// (tests/windows/data/plugin-facts.txt); and the one set of steps after which each build's
// state was saved for the other to load (linux.kfn, windows.kfn there).
#pragma once

#include <filesystem>
#include <string>
#include <utility>

#include "common/parameter_table.h"
#include "host/vst_host.h"
#include "support/temp_files.h"

namespace kf::test {

// Where the committed description and states are (the test target defines KF_SOURCE_DIR).
inline std::filesystem::path crossPlatformData() {
    return std::filesystem::path(KF_SOURCE_DIR) / "tests/windows/data";
}

// The value the steps give host parameter `index`: a different one for each.
inline float recipeValue(int32_t index) {
    return static_cast<float>((index * 7) % kNumHostParameters) / static_cast<float>(kNumHostParameters - 1);
}

inline void applyRecipe(host::Plugin& plugin) {
    for (int32_t i = 0; i < plugin.numParams(); ++i) plugin.setParameter(i, recipeValue(i));
}

// Identity, capabilities and each parameter's name, label and display text, as a fresh
// instance has them and after the steps.
inline std::string describePlugin(host::Plugin& plugin) {
    std::string out;
    const auto line = [&](const std::string& name, const std::string& value) {
        out += name + ": " + value + "\n";
    };
    line("effect", plugin.effectName());
    line("vendor", plugin.vendorString());
    line("product", plugin.productString());
    line("vendor version", std::to_string(plugin.vendorVersion()));
    line("VST version", std::to_string(plugin.vstVersion()));
    line("category", std::to_string(plugin.category()));
    line("unique ID", host::fourCharCode(plugin.uniqueId()));
    line("inputs, outputs", std::to_string(plugin.numInputs()) + ", " + std::to_string(plugin.numOutputs()));
    line("parameters, programs",
         std::to_string(plugin.numParams()) + ", " + std::to_string(plugin.numPrograms()));
    line("flags", std::to_string(plugin.flags()));
    for (const char* what : {"receiveVstEvents", "receiveVstMidiEvent", "sendVstMidiEvent", "sendVstEvent",
                             "receiveVstTimeInfo", "hasAboutScreen", "bypass"})
        line(std::string("can do ") + what, std::to_string(plugin.canDo(what)));
    line("program", plugin.programName());
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) applyRecipe(plugin);
        for (int32_t i = 0; i < plugin.numParams(); ++i)
            line((pass ? "after the steps, parameter " : "parameter ") + std::to_string(i),
                 plugin.parameterName(i) + " | " + plugin.parameterLabel(i) + " | " +
                     plugin.parameterDisplay(i));
    }
    return out;
}

// The plug-in's description and the committed one. The plug-in's is also written to the
// working folder under `copy`, to compare by eye, or to commit when the plug-in changes on
// purpose.
struct Descriptions {
    std::string actual, committed;
};
inline Descriptions describeBesideCommitted(host::Plugin& plugin, const std::string& copy) {
    Descriptions d{describePlugin(plugin), {}};
    writeBytes(copy, Bytes(d.actual.begin(), d.actual.end()));
    const Bytes committed = readBytes(crossPlatformData() / "plugin-facts.txt");
    d.committed.assign(committed.begin(), committed.end());
    return d;
}

// Makes the default state's carrier a pure sine that sounds only while a key is held, for the
// tests that play the editor's keyboard; false when a parameter is missing.
inline bool playAPureSine(host::Plugin& plugin) {
    const std::pair<const char*, float> settings[] =
        {
            {"waveform", 1.0f},  {"noise", 0.0f},     {"octave", 0.5f}, {"filtertype", 1.0f},
            {"cutoff", 1.0f},    {"resonance", 0.0f}, {"shift", 0.5f},  {"mastercomp", 0.0f},
            {"articulate", 0.0f}};  // the classic bank's slow followers leave the sine's pitch clean
    for (const auto& [name, value] : settings) {
        int32_t index = 0;
        while (index < plugin.numParams() && plugin.parameterName(index) != name) ++index;
        if (index == plugin.numParams()) return false;
        plugin.setParameter(index, value);
    }
    return true;
}

}  // namespace kf::test
