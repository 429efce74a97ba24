#include "state/settings_startup.h"

#include <filesystem>
#include <system_error>

#include "platform/file_system.h"
#include "platform/shell.h"
#include "platform/user_data.h"
#include "state/paths.h"

namespace kf {

namespace {

using platform::isFolder;
using platform::isWritableFolder;

// The folder, created when missing; empty when it cannot be made.
std::string madeFolder(const std::string& path) {
    std::error_code ec;
    if (platform::isAbsolutePath(path)) std::filesystem::create_directories(platform::fsPath(path), ec);
    return isFolder(path) ? path : std::string();
}

// The three folders the first run derives from a content folder.
struct ContentFolders {
    std::string presets, save, samples;
};

// A folder below parent, with a trailing separator.
std::string subfolder(const std::string& parent, const char* name) {
    return withTrailingSeparator(withTrailingSeparator(parent) + name);
}

ContentFolders foldersUnder(const std::string& content) {
    const std::string presets = subfolder(content, "Presets");
    return {presets, subfolder(presets, "User"), subfolder(content, "Samples") + "Factory"};
}

std::string absoluteFolder(const std::string& folder) {
    if (folder.empty() || platform::isAbsolutePath(folder)) return withTrailingSeparator(folder);
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(platform::fsPath(folder), ec);
    return ec ? withTrailingSeparator(folder)
              : withTrailingSeparator(platform::utf8Path(absolute.lexically_normal()));
}

// Makes the stored folders fit the bundle this instance runs from (see the header).
void followTheBundle(platform::SettingsValues& values, const std::string& previousInstall,
                     const std::string& install, const std::string& userData) {
    const auto stored = [&](const char* name) { return values.text(name).value_or(std::string()); };
    const auto change = [&](const char* name, const std::string& folder) {
        if (!folder.empty() && stored(name) != folder) values.setText(name, folder);
    };
    const ContentFolders bundle = foldersUnder(install);
    if (!values.text(setting::kContentPath) && !previousInstall.empty() && previousInstall != install) {
        const ContentFolders before = foldersUnder(previousInstall);
        if (stored(setting::kPresetPath0) == before.presets) change(setting::kPresetPath0, bundle.presets);
        if (stored(setting::kPresetSavePath0) == before.save) change(setting::kPresetSavePath0, bundle.save);
        if (stored(setting::kAudioFilePath) == before.samples)
            change(setting::kAudioFilePath, bundle.samples);
    }
    const std::string user = userData.empty() ? std::string() : withTrailingSeparator(userData);
    // The bundle counts only when it is one: a lone module has no Presets folder beside it.
    const bool haveBundle = !install.empty() && isFolder(bundle.presets);
    if (!isFolder(stored(setting::kPresetPath0)))
        change(setting::kPresetPath0, haveBundle ? bundle.presets : madeFolder(subfolder(user, "Presets")));
    if (!isWritableFolder(stored(setting::kPresetSavePath0))) {
        const bool bundleTakesSaves = haveBundle && isWritableFolder(madeFolder(bundle.save));
        change(setting::kPresetSavePath0,
               bundleTakesSaves ? bundle.save : madeFolder(subfolder(subfolder(user, "Presets"), "User")));
    }
    if (!isFolder(stored(setting::kAudioFilePath)))
        change(setting::kAudioFilePath, isFolder(bundle.samples) && !install.empty()
                                            ? bundle.samples
                                            : madeFolder(subfolder(user, "Samples")));
}

}  // namespace

StartupSettings runSettingsStartup(platform::SettingsStore& store, const std::string& moduleFolder,
                                   const std::string& userData) {
    StartupSettings result;
    const std::string module = absoluteFolder(moduleFolder);
    store.update([&](platform::SettingsValues& values) {
        const std::string previousInstall = values.text(setting::kInstallPath).value_or(std::string());
        if (!module.empty() && previousInstall != module) values.setText(setting::kInstallPath, module);
        result.installPath = values.text(setting::kInstallPath).value_or(std::string());

        if (values.number(setting::kFirstUse).value_or(0) == 0) {
            result.firstRun = true;
            values.setNumber(setting::kFirstUse, 1);
            const ContentFolders first =
                foldersUnder(values.text(setting::kContentPath).value_or(result.installPath));
            values.setText(setting::kPresetPath0, first.presets);
            values.setText(setting::kPresetSavePath0, first.save);
            values.setText(setting::kAudioFilePath, first.samples);
            values.setNumber(setting::kIgnoreProgramChange, 1);
            values.setNumber(setting::kCcMapRecallIsolate, 0);
        }

        result.ignoreProgramChange =
            static_cast<float>(values.number(setting::kIgnoreProgramChange).value_or(1));
        result.ccMapRecallIsolate =
            static_cast<float>(values.number(setting::kCcMapRecallIsolate).value_or(0));

        if (!values.text(setting::kPresetPath0))
            values.setText(setting::kPresetPath0, values.text(setting::kPresetPath).value_or(std::string()));

        followTheBundle(values, previousInstall, result.installPath, userData);
        result.presetPath = values.text(setting::kPresetPath0).value_or(std::string());
        result.presetSavePath = values.text(setting::kPresetSavePath0).value_or(std::string());
    });
    return result;
}

StartupSettings runSettingsStartup(platform::SettingsStore& store) {
    return runSettingsStartup(store, platform::folderOfThisModule(), platform::userDataFolder());
}

std::string manualPathOfThisModule() {
    const std::string folder = absoluteFolder(platform::folderOfThisModule());
    return folder.empty() ? std::string() : subfolder(folder, "Manual") + "Manual.htm";
}

}  // namespace kf
