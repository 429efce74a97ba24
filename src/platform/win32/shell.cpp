#include "platform/shell.h"

#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include "platform/win32/wide_text.h"

namespace kf::platform {

std::string folderOfThisModule() {
    // The module that holds this code (the plug-in's DLL), not the host's program.
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&folderOfThisModule), &module))
        return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // cut short: a long path, try again with room for it
    }
    const std::size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::string() : narrow(path.substr(0, cut + 1));
}

bool DesktopDocumentOpener::open(const std::string& path) {
    // Some shell handlers are COM objects; the calling thread may not have COM yet.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const auto result = reinterpret_cast<intptr_t>(
        ShellExecuteW(nullptr, L"open", widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (SUCCEEDED(com)) CoUninitialize();
    return result > 32;  // the documented success threshold
}

}  // namespace kf::platform
