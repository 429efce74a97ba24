// The settings in the registry, below HKEY_CURRENT_USER.
#include "platform/settings_store.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/win32/wide_text.h"

namespace kf::platform {

namespace {

constexpr const char* kProductKey = "Software\\Tallow Mill\\Kestrafone";

// The key for one operation, closed with the object; null when it could not be opened.
class Key {
  public:
    // Reading never creates the key; writing creates it when missing.
    Key(const std::string& path, bool forWriting) {
        if (path.empty()) return;
        const std::wstring name = widen(path);
        const LSTATUS status =
            forWriting ? RegCreateKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr)
                       : RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_QUERY_VALUE, &key_);
        if (status != ERROR_SUCCESS) key_ = nullptr;
    }
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

// Every value of the key with one of the store's two types: REG_DWORD as a number, REG_SZ
// as a text. Values of other types stay out, so nothing reads them and nothing rewrites them.
SettingsValues readValues(HKEY key) {
    SettingsValues values;
    DWORD longestName = 0, longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return values;
    std::wstring name(longestName + 1, L'\0');
    std::vector<BYTE> data(longestData + sizeof(wchar_t));
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataBytes = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LSTATUS status =
            RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataBytes);
        if (status == ERROR_NO_MORE_ITEMS) break;
        // A value that grew since the size query is passed over, as if of a foreign type.
        if (status != ERROR_SUCCESS) continue;
        const std::string utf8Name = narrow(std::wstring_view(name.data(), nameLength));
        if (type == REG_DWORD && dataBytes == sizeof(DWORD)) {
            DWORD number = 0;
            std::memcpy(&number, data.data(), sizeof number);
            values.setNumber(utf8Name, static_cast<int32_t>(number));
        } else if (type == REG_SZ) {
            std::wstring_view text(reinterpret_cast<const wchar_t*>(data.data()),
                                   dataBytes / sizeof(wchar_t));
            // Stored with or without its terminating zero; the text ends at the first one.
            text = text.substr(0, text.find(L'\0'));
            values.setText(utf8Name, narrow(text));
        }
    }
    return values;
}

bool writeValue(HKEY key, const SettingsValues::Entry& value) {
    const std::wstring name = widen(value.name);
    if (!value.isText) {
        const DWORD number = static_cast<DWORD>(value.number);
        return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                              sizeof number) == ERROR_SUCCESS;
    }
    // With its terminating zero, as REG_SZ is meant to be stored.
    const std::wstring text = widen(value.text);
    return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

std::string SettingsStore::defaultFolder() {
    const wchar_t* override = _wgetenv(widen(kFolderEnvironment).c_str());
    return override && *override ? narrow(override) : std::string(kProductKey);
}

std::string SettingsStore::filePath() const {
    return folder_.empty() ? std::string() : "HKEY_CURRENT_USER\\" + folder_;
}

SettingsValues SettingsStore::readAll() const {
    const Key key(folder_, false);
    return key.get() ? readValues(key.get()) : SettingsValues();
}

bool SettingsStore::update(const std::function<void(SettingsValues&)>& edit) {
    const Key key(folder_, true);
    SettingsValues values = key.get() ? readValues(key.get()) : SettingsValues();
    const SettingsValues before = values;
    edit(values);
    if (!key.get()) return false;
    if (values == before) return true;
    bool written = true;
    for (const SettingsValues::Entry& value : values.entries()) {
        const SettingsValues::Entry* old = before.find(value.name);
        if (!old || !(*old == value)) written = writeValue(key.get(), value) && written;
    }
    for (const SettingsValues::Entry& old : before.entries())
        if (!values.find(old.name))
            written = RegDeleteValueW(key.get(), widen(old.name).c_str()) == ERROR_SUCCESS && written;
    fileWrites_.fetch_add(1, std::memory_order_relaxed);
    return written;
}

}  // namespace kf::platform
