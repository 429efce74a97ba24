// The dialogs the presets, the sample view and the editor open, with their titles, file
// types and the folder settings they start from and remember.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_dialogs.h"
#include "platform/settings_store.h"

namespace kf {

class TMFileChooser {
  public:
    static constexpr const char* kOpenTitle = "Choose a file to load";
    static constexpr const char* kSaveTitle = "Save Preset";
    static constexpr const char* kPresetFolderTitle = "Choose Preset Directory";
    static constexpr const char* kSampleFolderTitle = "Choose Sample Directory";
    // Setting name that means "start nowhere in particular and remember nothing".
    static constexpr const char* kNotSet = "notset";

    TMFileChooser(platform::FileDialogs& dialogs, platform::SettingsStore& settings)
        : dialogs_(dialogs), settings_(settings) {}

    // Open-file dialog with the types for extension ("wav" gives the audio types),
    // starting at path; on confirm path holds the chosen file.
    bool openFile(std::string& path, std::string_view extension);
    // Save dialog with the one type "Preset file" (extension), starting at path (a folder, or
    // the suggested file with its extension); on confirm path holds the name as the user gave
    // it, which may lack the extension.
    bool saveFile(std::string& path, std::string_view extension, const std::string& title = kSaveTitle);
    // Folder dialog. Unless settingName is "notset" it starts in the folder stored under
    // that setting, and the chosen folder is stored there. On confirm result holds the
    // folder with a trailing '/'.
    bool selectFolder(std::string& result, std::string_view settingName, const std::string& title);

  private:
    platform::FileDialogs& dialogs_;
    platform::SettingsStore& settings_;
};

}  // namespace kf
