// What the Windows tests share: the registry values a test looks at, and the windows a
// dialog or message box opens in this process, found by title and answered as a user would.
#pragma once

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>

#include "platform/win32/wide_text.h"

namespace kf::test {

// A value as the registry holds it: its type and its text or number.
struct RegistryValue {
    DWORD type = REG_NONE;
    std::wstring text;
    DWORD number = 0;
};

inline std::optional<RegistryValue> registryValue(const std::string& key, const std::string& name) {
    RegistryValue v;
    BYTE data[8192] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, platform::widen(key).c_str(), platform::widen(name).c_str(),
                     RRF_RT_ANY | RRF_NOEXPAND, &v.type, data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (v.type == REG_DWORD) std::memcpy(&v.number, data, sizeof v.number);
    if (v.type == REG_SZ || v.type == REG_EXPAND_SZ) v.text = reinterpret_cast<const wchar_t*>(data);
    return v;
}

inline void setRegistryValue(const std::string& key, const std::string& name, DWORD type, const void* data,
                             DWORD bytes) {
    RegSetKeyValueW(HKEY_CURRENT_USER, platform::widen(key).c_str(), platform::widen(name).c_str(), type,
                    data, bytes);
}

inline void setRegistryText(const std::string& key, const std::string& name, const std::wstring& text) {
    setRegistryValue(key, name, REG_SZ, text.c_str(),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// A visible top-level window of this process with this title, other than `except`; waits up
// to `tries` × 10 ms for it to appear. Null when none did.
inline HWND waitForWindow(const std::wstring& title, HWND except = nullptr, int tries = 1000) {
    struct Search {
        const std::wstring& title;
        HWND except;
        HWND found = nullptr;
    };
    for (int attempt = 0; attempt < tries; ++attempt) {
        Search search{title, except};
        EnumWindows(
            [](HWND window, LPARAM context) -> BOOL {
                auto* s = reinterpret_cast<Search*>(context);
                DWORD process = 0;
                GetWindowThreadProcessId(window, &process);
                wchar_t text[256] = {};
                GetWindowTextW(window, text, 256);
                if (process != GetCurrentProcessId() || window == s->except || !IsWindowVisible(window) ||
                    s->title != text)
                    return TRUE;
                s->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(10);
    }
    return nullptr;
}

// Whether the window is gone within ten seconds.
inline bool windowCloses(HWND window) {
    for (int tries = 0; tries < 1000 && IsWindow(window); ++tries) Sleep(10);
    return !IsWindow(window);
}

// Presses a dialog's button (IDOK, IDCANCEL, IDYES, ...).
inline void press(HWND dialog, int button) {
    PostMessageW(dialog, WM_COMMAND, button, 0);
}

// Types a name into a file or folder dialog's name box (of either dialog style) and presses OK.
inline void typeAndConfirm(HWND dialog, const std::string& name) {
    for (int box : {0x47c, 0x480}) SetDlgItemTextW(dialog, box, platform::widen(name).c_str());
    press(dialog, IDOK);
}

}  // namespace kf::test
