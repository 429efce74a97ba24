// The per-user settings: named values of two types (number, text). On Windows they live in
// the registry key HKEY_CURRENT_USER\Software\Tallow Mill\Kestrafone; on Linux in one small
// file, by default in $XDG_CONFIG_HOME/Tallow Mill/Kestrafone/ (~/.config/... when unset or
// relative). One source file per platform implements SettingsStore; the rules below are the file's.
//
// Several plug-in instances, in one host or several, share the file. Every change is a
// read-modify-write under an exclusive lock on a companion lock file: the current file is
// read again, the change applied, and the result written to a temporary file that is
// renamed over the old one. So no instance loses another's values, and a crash leaves
// either the old or the new file, never a broken one.
//
// A file this code did not write exactly as it is (a byte-order mark, CRLF line endings,
// lines that cannot be read, a foreign header, an unreadable or oversized file) may hold
// values someone cares about, so it is never replaced: whatever can be read is used, every
// write is declined while the file is so, and the first declined write says so on
// standard error, once per store.
//
// In the registry each value is read and written on its own, and the registry serialises
// them: a change writes only the values it changed, and a value of another type than the
// store's two (REG_DWORD, REG_SZ) is never read and never replaced unless a change sets it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kf::platform {

// The values of the store, in the order they were first written. Names compare without
// regard to ASCII case, as the names of a registry key do. A file may have grown large
// (every instance reads it whole when it starts), so each name is found through an index
// and reading a file takes time in proportion to its length.
class SettingsValues {
  public:
    // Texts longer than this many bytes count as missing when read...
    static constexpr std::size_t kMaxTextBytes = 1025;
    // ...and a text that is read keeps at most this many characters.
    static constexpr std::size_t kMaxTextChars = 1023;
    // The first line of the file form.
    static constexpr std::string_view kFileHeader = "# Kestrafone settings 1";

    struct Entry {
        std::string name;
        bool isText = false;
        int32_t number = 0;
        std::string text;
        bool operator==(const Entry&) const = default;
    };
    // Every value as stored, without the size rules: for a store that writes them one by one.
    const std::vector<Entry>& entries() const { return entries_; }
    // The value of that name as stored; null when there is none.
    const Entry* find(std::string_view name) const;

    std::optional<int32_t> number(std::string_view name) const;
    // Applies the size rules above.
    std::optional<std::string> text(std::string_view name) const;
    // Replaces any value of that name, whatever its type. A name may hold any byte but
    // the zero byte.
    void setNumber(std::string_view name, int32_t value);
    void setText(std::string_view name, std::string_view value);
    void erase(std::string_view name);
    bool contains(std::string_view name) const;
    std::size_t size() const { return entries_.size(); }
    // Counts the calls above that changed something, so a caller can tell whether there is
    // anything to write without keeping a copy to compare with.
    std::size_t edits() const { return edits_; }

    // The file form: a first line naming the format, then one "type<TAB>name<TAB>value"
    // line per value with backslash escapes for backslash, tab, CR and LF.
    std::string serialize() const;
    // Nothing when the text is not a settings file. A byte-order mark and CRLF line ends
    // are accepted and lines that cannot be read are skipped; each of these is described
    // in *tolerated (when given), which stays empty for a file exactly in our own form.
    static std::optional<SettingsValues> parse(std::string_view text, std::string* tolerated = nullptr);

    // The values and their order; the index follows from them.
    bool operator==(const SettingsValues& other) const { return entries_ == other.entries_; }

  private:
    static std::string folded(std::string_view name);
    Entry& slot(std::string_view name);

    std::vector<Entry> entries_;
    // Position in entries_ of each name, folded to lower case.
    std::unordered_map<std::string, std::size_t> index_;
    std::size_t edits_ = 0;
};

class SettingsStore {
  public:
    static constexpr const char* kFileName = "settings.conf";
    static constexpr const char* kLockFileName = "settings.lock";
    // Names another place instead of the usual one (tests, portable set-ups): a folder on
    // Linux, a key below HKEY_CURRENT_USER on Windows.
    static constexpr const char* kFolderEnvironment = "KESTRAFONE_SETTINGS_DIR";

    // Linux: $KESTRAFONE_SETTINGS_DIR, else "Tallow Mill/Kestrafone" in the user's settings
    // folder (platform/user_data.h); empty when there is none, and the store then saves
    // nothing. Windows: $KESTRAFONE_SETTINGS_DIR, else Software\Tallow Mill\Kestrafone (below
    // HKEY_CURRENT_USER). "Folder" below means this key on Windows.
    static std::string defaultFolder();

    SettingsStore() : SettingsStore(defaultFolder()) {}
    // An empty folder makes a store in which every read fails and every write does
    // nothing, as with a registry key that cannot be opened.
    explicit SettingsStore(std::string folder) : folder_(std::move(folder)) {}
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const std::string& folder() const { return folder_; }
    // Where the values are, for messages: the file, or the key's full name.
    std::string filePath() const;

    // Single values; each read takes the file as it is now.
    bool readNumber(std::string_view name, int32_t& out) const;
    bool readText(std::string_view name, std::string& out) const;
    bool writeNumber(std::string_view name, int32_t value);
    bool writeText(std::string_view name, std::string_view value);

    // All values as they are now (empty when there is no readable file).
    SettingsValues readAll() const;

    // Runs edit on the current values under the lock and stores the result if edit
    // changed anything. False when the folder or the file could not be written, or the
    // file is one that is never replaced (see above); edit has then still run, on the
    // values as read.
    bool update(const std::function<void(SettingsValues&)>& edit);

    // True from the first read that met a file that is never replaced: for the rest of
    // this object's life every write is declined.
    bool readOnly() const { return readOnly_.load(std::memory_order_relaxed); }

    // How many times this object replaced the file; for tests and diagnostics.
    int32_t fileWrites() const { return fileWrites_.load(std::memory_order_relaxed); }

  private:
    struct FileContents {
        SettingsValues values;
        std::string problem;  // why the file must not be replaced; empty when it may be
    };
    FileContents readFile() const;

    std::string folder_;
    std::atomic<int32_t> fileWrites_{0};
    std::atomic<bool> noticeShown_{false};
    mutable std::atomic<bool> readOnly_{false};
};

}  // namespace kf::platform
