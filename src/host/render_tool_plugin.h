// What the render tool does with a loaded plug-in before it renders or shows it: restore a
// state, set parameters, load a sample into Kestrafone's sampler, save the state as a
// preset, describe the plug-in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/render_tool_options.h"
#include "host/vst_host.h"

namespace kf::host {

// Restores a state read from `file`: refused when the plug-in keeps no chunk or does not
// accept it (its answer is the only sign; a state it ignored would render wrong).
std::optional<Failure> restoreState(Plugin& plugin, const std::vector<uint8_t>& state,
                                    const std::string& file);

// Resolves each NAME=VALUE against the plug-in's parameter names (or indices) and applies it.
std::optional<std::string> applySets(Plugin& plugin, const std::vector<std::string>& sets);

// Loads a WAV or AIFF file into Kestrafone's sampler the way a host restoring a project
// would: through the state chunk's sampler record.
std::optional<Failure> loadSample(Plugin& plugin, const std::string& file);

// Writes the plug-in's chunk to `path`, naming the state after the file; an existing file
// is replaced only by a complete one.
std::optional<std::string> saveState(Plugin& plugin, const std::string& path);

// The plug-in's description and parameters, as a host's scanner sees them.
void printInfo(Plugin& plugin);

}  // namespace kf::host
