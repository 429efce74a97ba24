// Where a user's own files go: the per-user settings, and the presets and samples saved when
// the plug-in's bundle folder is not writable (a system-wide install) or there is no bundle
// (a lone kestrafone.so).
//
// Only absolute folders count: a relative HOME or XDG folder would put the files under
// whatever folder the host happens to run in. When the environment gives none, the
// account's home folder does; when there is none at all, the results are empty and the
// plug-in runs without saving settings.
#pragma once

#include <string>

namespace kf::platform {

// The home folder: $HOME when absolute, else the account's from the password database.
// Empty when neither is absolute.
std::string homeFolder();

// The base folder of per-user settings: $XDG_CONFIG_HOME when absolute, else ~/.config.
// No trailing '/'; empty without a home folder.
std::string userConfigFolder();

// $XDG_DATA_HOME/Kestrafone/ when XDG_DATA_HOME is absolute, else
// ~/.local/share/Kestrafone/, with a trailing '/'. Empty without a home folder. The
// folder is not created here.
std::string userDataFolder();

}  // namespace kf::platform
