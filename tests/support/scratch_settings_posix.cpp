#include <stdlib.h>

#include "platform/settings_store.h"
#include "scratch_settings.h"

namespace kf::test {

void useScratchSettings(const std::filesystem::path& folder) {
    setenv(platform::SettingsStore::kFolderEnvironment, folder.c_str(), 1);
    setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
}

void dropScratchSettings() {}

}  // namespace kf::test
