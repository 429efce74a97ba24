#include "state/settings_startup.h"

#include <filesystem>
#include <system_error>

#include "platform/shell.h"
#include "state/paths.h"

namespace kf {

StartupSettings runSettingsStartup(platform::SettingsStore& store, const std::string& moduleFolder) {
    StartupSettings result;
    std::string contentPath;
    store.update([&](platform::SettingsValues& values) {
        if (!values.text(setting::kInstallPath) && !moduleFolder.empty())
            values.setText(setting::kInstallPath, withTrailingSeparator(moduleFolder));
        result.installPath = values.text(setting::kInstallPath).value_or(std::string());

        if (values.number(setting::kFirstUse).value_or(0) == 0) {
            result.firstRun = true;
            values.setNumber(setting::kFirstUse, 1);
            contentPath =
                withTrailingSeparator(values.text(setting::kContentPath).value_or(result.installPath));
            const std::string presets = contentPath + "Presets/";
            values.setText(setting::kPresetPath0, presets);
            values.setText(setting::kPresetSavePath0, presets + "User/");
            values.setText(setting::kAudioFilePath, contentPath + "Samples/Factory");
            values.setNumber(setting::kIgnoreProgramChange, 1);
            values.setNumber(setting::kCcMapRecallIsolate, 0);
        }

        result.ignoreProgramChange =
            static_cast<float>(values.number(setting::kIgnoreProgramChange).value_or(1));
        result.ccMapRecallIsolate =
            static_cast<float>(values.number(setting::kCcMapRecallIsolate).value_or(0));

        if (!values.text(setting::kPresetPath0))
            values.setText(setting::kPresetPath0, values.text(setting::kPresetPath).value_or(std::string()));
        result.presetPath = values.text(setting::kPresetPath0).value_or(std::string());
    });

    // Only below an absolute content folder: a relative one would land in whatever folder
    // the host happens to run in.
    if (result.firstRun && !contentPath.empty() && contentPath.front() == '/') {
        std::error_code ec;
        for (const char* sub : {"Presets/User", "Samples/Factory"})
            std::filesystem::create_directories(contentPath + sub, ec);
    }
    return result;
}

StartupSettings runSettingsStartup(platform::SettingsStore& store) {
    return runSettingsStartup(store, platform::folderOfThisModule());
}

}  // namespace kf
