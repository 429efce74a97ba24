#include <windows.h>

#include <filesystem>

#include "host/plugin_library.h"
#include "platform/file_system.h"
#include "platform/win32/wide_text.h"

namespace kf::host {

std::unique_ptr<PluginLibrary> PluginLibrary::open(const std::string& path, std::string& error) {
    // An absolute path, so that the loader neither searches for the file nor looks for the
    // libraries it needs anywhere but beside it and in the system's folders.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(platform::fsPath(path), ec);
    const HMODULE handle = LoadLibraryExW(ec ? platform::fsPath(path).c_str() : absolute.c_str(), nullptr,
                                          LOAD_WITH_ALTERED_SEARCH_PATH);
    if (handle == nullptr) {
        error = "cannot load " + path + ": " + platform::systemErrorText(GetLastError());
        return nullptr;
    }
    return std::unique_ptr<PluginLibrary>(new PluginLibrary(reinterpret_cast<void*>(handle)));
}

PluginLibrary::~PluginLibrary() {
    FreeLibrary(static_cast<HMODULE>(handle_));
}

void* PluginLibrary::symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace kf::host
