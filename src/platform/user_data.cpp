#include "platform/user_data.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace kf::platform {

namespace {

bool isAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

// The XDG base folder `variable` names when absolute, else `underHome` in the home folder.
std::string baseFolder(const char* variable, const char* underHome) {
    if (const char* value = std::getenv(variable); isAbsolute(value)) return value;
    const std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/" + underHome;
}

}  // namespace

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); isAbsolute(home)) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && isAbsolute(pw->pw_dir)) return pw->pw_dir;
    return {};
}

std::string userConfigFolder() {
    return baseFolder("XDG_CONFIG_HOME", ".config");
}

std::string userDataFolder() {
    const std::string base = baseFolder("XDG_DATA_HOME", ".local/share");
    return base.empty() ? std::string() : base + "/Kestrafone/";
}

}  // namespace kf::platform
