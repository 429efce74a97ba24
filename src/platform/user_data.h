// Where a user's own files go: the per-user settings, and the presets and samples saved when
// the plug-in's bundle folder is not writable (a system-wide install) or there is no bundle
// (a lone module).
//
// Only absolute folders count: a relative HOME or XDG folder would put the files under
// whatever folder the host happens to run in. When the environment gives none, the
// account's home folder does; when there is none at all, the results are empty and the
// plug-in runs without saving settings.
#pragma once

#include <string>

namespace kf::platform {

// The home folder. Linux: $HOME when absolute, else the account's from the password
// database. Windows: the user's profile folder. Empty when there is none.
std::string homeFolder();

// The base folder of per-user settings. Linux: $XDG_CONFIG_HOME when absolute, else
// ~/.config. Windows: %APPDATA% (the roaming application data folder). No trailing
// separator; empty when there is none.
std::string userConfigFolder();

// Linux: $XDG_DATA_HOME/Kestrafone/ when XDG_DATA_HOME is absolute, else
// ~/.local/share/Kestrafone/. Windows: %APPDATA%\Kestrafone\. With a trailing separator;
// empty without a base folder. The folder is not created here.
std::string userDataFolder();

}  // namespace kf::platform
