// Points the settings store and the user's data folder of every instance a test program
// creates into scratch space of its own, never at the user's. One source per platform.
#pragma once

#include <filesystem>

namespace kf::test {

// From now on, for the rest of the program: settings and user data below `folder` (which
// the caller removes), or in a scratch key where the settings are in the registry.
void useScratchSettings(const std::filesystem::path& folder);
// Removes what useScratchSettings made outside the folder.
void dropScratchSettings();

}  // namespace kf::test
