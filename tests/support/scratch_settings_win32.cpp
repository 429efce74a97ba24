#include <stdlib.h>
#include <windows.h>

#include <string>

#include "platform/settings_store.h"
#include "scratch_settings.h"

namespace kf::test {

namespace {
std::string gKey;
}

void useScratchSettings(const std::filesystem::path& folder) {
    gKey = "Software\\Tallow Mill\\Kestrafone tests\\" + folder.filename().string();
    _putenv_s(platform::SettingsStore::kFolderEnvironment, gKey.c_str());
    // The user's data folder follows %APPDATA%, as on Linux it follows $XDG_DATA_HOME.
    _wputenv_s(L"APPDATA", (folder / "data").c_str());
}

void dropScratchSettings() {
    if (!gKey.empty()) RegDeleteTreeA(HKEY_CURRENT_USER, gKey.c_str());
    gKey.clear();
}

}  // namespace kf::test
