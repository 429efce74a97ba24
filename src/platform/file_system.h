// The file system as the program sees it: every path it holds, stores in a state or a preset,
// or writes into the settings is UTF-8 text, on every platform, so a state made on one moves
// to the other. The calls here are where such a path meets the system; on Windows they use
// the wide-character calls, since the narrow ones (fopen, std::filesystem::path from a
// std::string) read the ANSI code page and would miss a file named "Stimme-ä.wav".
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kf::platform {

// The separator the platform writes between folders: '/' on Linux, '\' on Windows.
extern const char kPathSeparator;

// A UTF-8 path as the standard library's path, and back.
inline std::filesystem::path fsPath(std::string_view utf8) {
    return std::filesystem::path(
        std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}
inline std::string utf8Path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// Whether the path is absolute in the platform's sense ("/x" on Linux, "C:\x" or "\\server\x"
// on Windows).
inline bool isAbsolutePath(std::string_view utf8) {
    return !utf8.empty() && fsPath(utf8).is_absolute();
}

inline bool isFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(fsPath(path), ec);
}
// A folder this user can create files in.
bool isWritableFolder(const std::string& path);

// Opens a regular file for reading as a binary stream. A folder, a pipe or a device is never
// opened, so the open can neither block nor hand over an endless stream. Null on failure.
std::FILE* openRegularStream(const std::string& path);
// Creates or truncates a file for writing as a binary stream; null on failure.
std::FILE* createFileStream(const std::string& path);

struct FolderEntry {
    std::string name;  // UTF-8, without the folder
    bool isFolder = false;
    bool isLink = false;  // a symbolic link (a junction on Windows), to a folder or a file
};
// The entries of a folder, without "." and "..", in the order the system gives them; empty
// when the folder cannot be read.
std::vector<FolderEntry> listFolder(const std::string& folder);

}  // namespace kf::platform
