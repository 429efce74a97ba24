#include "state/file_chooser.h"

#include "state/paths.h"
#include "state/sample_data.h"

namespace kf {

bool TMFileChooser::openFile(std::string& path, std::string_view extension) {
    const std::optional<std::string> chosen =
        dialogs_.openFile(kOpenTitle, path, fileTypesForExtension(extension));
    if (!chosen) return false;
    path = *chosen;
    return true;
}

bool TMFileChooser::saveFile(std::string& path, std::string_view extension, const std::string& title) {
    const std::optional<std::string> chosen =
        dialogs_.saveFile(title, path, fileTypesForExtension(extension));
    if (!chosen) return false;
    path = *chosen;
    return true;
}

bool TMFileChooser::selectFolder(std::string& result, std::string_view settingName,
                                 const std::string& title) {
    const bool remembered = settingName != kNotSet;
    std::string start;
    if (remembered) settings_.readText(settingName, start);
    const std::optional<std::string> chosen = dialogs_.chooseFolder(title, start);
    if (!chosen) return false;
    result = withTrailingSeparator(*chosen);
    if (remembered) settings_.writeText(settingName, result);
    return true;
}

}  // namespace kf
