#include "platform/user_data.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace kf::platform {

std::string userDataFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        return std::string(data) + "/Kestrafone/";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h)
        home = h;
    else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir)
        home = pw->pw_dir;
    return home.empty() ? std::string() : home + "/.local/share/Kestrafone/";
}

}  // namespace kf::platform
