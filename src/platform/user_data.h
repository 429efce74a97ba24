// Where a user's own presets and samples go when the plug-in's bundle folder is not
// writable (a system-wide install) or there is no bundle (a lone module).
#pragma once

#include <string>

namespace kf::platform {

// Linux: $XDG_DATA_HOME/Kestrafone/, else $HOME/.local/share/Kestrafone/ (a relative
// XDG_DATA_HOME is ignored, as the XDG rules say), with a trailing '/'.
// Windows: %APPDATA%\Kestrafone\ (the roaming application data folder).
// Empty when no such folder can be found. The folder is not created here.
std::string userDataFolder();

}  // namespace kf::platform
