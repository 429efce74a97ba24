#include "state/paths.h"

#include "platform/file_system.h"

namespace kf {

std::string pathTitle(std::string_view path) {
    // Either separator ends a folder name: Windows takes both, and a path joined from a
    // folder with backslashes and a name with a slash must still give the file's title.
    const std::size_t cut = path.find_last_of("/\\");
    std::string_view title = cut == std::string_view::npos ? path : path.substr(cut + 1);
    const std::size_t dot = title.rfind('.');
    if (dot != std::string_view::npos) title = title.substr(0, dot);
    return std::string(title);
}

std::string withTrailingSeparator(std::string_view path) {
    std::string out(path);
    if (!out.empty() && out.back() != '/' && out.back() != '\\') out += platform::kPathSeparator;
    return out;
}

std::string withExtension(std::string_view path, std::string_view extension) {
    std::string out(path);
    const std::string suffix = "." + std::string(extension);
    if (!extension.empty() && !(out.size() > suffix.size() && out.ends_with(suffix))) out += suffix;
    return out;
}

std::string withDefaultExtension(std::string_view path, std::string_view extension) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (name.empty() || extension.empty() || (dot != std::string_view::npos && dot > 0))
        return std::string(path);
    return std::string(path) + "." + std::string(extension);
}

}  // namespace kf
