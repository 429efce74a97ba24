#include "platform/dynamic_library.h"

#include <windows.h>

#include <filesystem>

#include "platform/file_system.h"
#include "platform/win32/wide_text.h"

namespace kf::platform {

void* loadLibrary(const std::string& path, std::string& error) {
    // An absolute path, so that the loader neither searches for the file nor looks for the
    // libraries it needs anywhere but beside it and in the system's folders.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(fsPath(path), ec);
    HMODULE library =
        LoadLibraryExW(ec ? fsPath(path).c_str() : absolute.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) error = systemErrorText(GetLastError());
    return reinterpret_cast<void*>(library);
}

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void unloadLibrary(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace kf::platform
