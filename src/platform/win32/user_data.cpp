#include "platform/user_data.h"

#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdlib>

#include "platform/file_system.h"
#include "platform/win32/wide_text.h"

namespace kf::platform {

namespace {

// The folder the environment variable names as the user's session has it, else the known
// folder it normally names. Only absolute folders count, as on Linux.
std::string knownFolder(const wchar_t* variable, REFKNOWNFOLDERID id) {
    if (const wchar_t* value = _wgetenv(variable); value && isAbsolutePath(narrow(value)))
        return narrow(value);
    wchar_t* folder = nullptr;
    std::string result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &folder)) && folder && *folder)
        result = narrow(folder);
    CoTaskMemFree(folder);
    return result;
}

}  // namespace

std::string homeFolder() {
    return knownFolder(L"USERPROFILE", FOLDERID_Profile);
}

std::string userConfigFolder() {
    return knownFolder(L"APPDATA", FOLDERID_RoamingAppData);
}

std::string userDataFolder() {
    const std::string base = userConfigFolder();
    return base.empty() ? std::string() : base + "\\Kestrafone\\";
}

}  // namespace kf::platform
