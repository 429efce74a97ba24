#include "platform/user_data.h"

#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdlib>

#include "platform/win32/wide_text.h"

namespace kf::platform {

std::string userDataFolder() {
    // %APPDATA% as the user's session has it, else the folder it normally names.
    if (const wchar_t* appData = _wgetenv(L"APPDATA"); appData && *appData)
        return narrow(appData) + "\\Kestrafone\\";
    wchar_t* folder = nullptr;
    std::string result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &folder)) &&
        folder && *folder)
        result = narrow(folder) + "\\Kestrafone\\";
    CoTaskMemFree(folder);
    return result;
}

}  // namespace kf::platform
