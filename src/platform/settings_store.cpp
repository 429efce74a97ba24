#include "platform/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace kf::platform {

namespace {

constexpr std::string_view kHeader = "# Kestrafone settings 1";
constexpr std::string_view kNumberType = "number";
constexpr std::string_view kTextType = "text";
// Far beyond any real settings file; a bigger file is not ours.
constexpr off_t kMaxFileBytes = 4 << 20;

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
}

std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return out;
}

// Reads the whole file; nothing when it is missing, unreadable or implausibly large.
std::optional<std::string> readWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes) {
        ::close(fd);
        return std::nullopt;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > static_cast<std::size_t>(kMaxFileBytes)) break;
        } else if (n == 0) {
            ::close(fd);
            return text;
        } else if (errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    return std::nullopt;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Holds an exclusive flock on the folder's lock file for its lifetime. The lock sits on a
// separate file because the settings file itself is replaced by each write.
class FolderLock {
  public:
    explicit FolderLock(const std::string& lockPath) {
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return;
        int r;
        do {
            r = ::flock(fd_, LOCK_EX);
        } while (r != 0 && errno == EINTR);
        if (r != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace

// --- values ----------------------------------------------------------------------------------

const SettingsValues::Entry* SettingsValues::find(std::string_view name) const {
    for (const Entry& e : entries_)
        if (sameName(e.name, name)) return &e;
    return nullptr;
}

SettingsValues::Entry& SettingsValues::slot(std::string_view name) {
    for (Entry& e : entries_)
        if (sameName(e.name, name)) {
            e.name = std::string(name);
            return e;
        }
    Entry& added = entries_.emplace_back();
    added.name = std::string(name);
    return added;
}

std::optional<int32_t> SettingsValues::number(std::string_view name) const {
    const Entry* e = find(name);
    if (!e || e->isText) return std::nullopt;
    return e->number;
}

std::optional<std::string> SettingsValues::text(std::string_view name) const {
    const Entry* e = find(name);
    if (!e || !e->isText || e->text.size() > kMaxTextBytes) return std::nullopt;
    return e->text.substr(0, kMaxTextChars);
}

void SettingsValues::setNumber(std::string_view name, int32_t value) {
    Entry& e = slot(name);
    e.isText = false;
    e.number = value;
    e.text.clear();
}

void SettingsValues::setText(std::string_view name, std::string_view value) {
    Entry& e = slot(name);
    e.isText = true;
    e.number = 0;
    e.text = std::string(value);
}

void SettingsValues::erase(std::string_view name) {
    std::erase_if(entries_, [&](const Entry& e) { return sameName(e.name, name); });
}

bool SettingsValues::contains(std::string_view name) const {
    return find(name) != nullptr;
}

std::string SettingsValues::serialize() const {
    std::string out(kHeader);
    out += '\n';
    for (const Entry& e : entries_) {
        out += e.isText ? kTextType : kNumberType;
        out += '\t';
        appendEscaped(out, e.name);
        out += '\t';
        if (e.isText)
            appendEscaped(out, e.text);
        else
            out += std::to_string(e.number);
        out += '\n';
    }
    return out;
}

std::optional<SettingsValues> SettingsValues::parse(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    const std::size_t firstEnd = text.find('\n');
    if (text.substr(0, firstEnd) != kHeader) return std::nullopt;
    SettingsValues values;
    std::size_t pos = firstEnd == std::string_view::npos ? text.size() : firstEnd + 1;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos || line.find('\t', tab2 + 1) != std::string_view::npos) continue;
        const std::string_view type = line.substr(0, tab1);
        const std::optional<std::string> name = unescape(line.substr(tab1 + 1, tab2 - tab1 - 1));
        const std::string_view raw = line.substr(tab2 + 1);
        if (!name || name->empty()) continue;
        if (type == kNumberType) {
            int32_t value = 0;
            const auto [end2, ec] = std::from_chars(raw.data(), raw.data() + raw.size(), value);
            if (ec != std::errc() || end2 != raw.data() + raw.size()) continue;
            values.setNumber(*name, value);
        } else if (type == kTextType) {
            const std::optional<std::string> value = unescape(raw);
            if (value) values.setText(*name, *value);
        }
    }
    return values;
}

// --- store -----------------------------------------------------------------------------------

std::string SettingsStore::defaultFolder() {
    const char* override = std::getenv(kFolderEnvironment);
    if (override && *override) return override;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    // The XDG rules say a relative value is to be ignored.
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (home && *home) {
            base = std::string(home) + "/.config";
        } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) {
            base = std::string(pw->pw_dir) + "/.config";
        } else {
            return {};
        }
    }
    return base + "/Tallow Mill/Kestrafone";
}

std::string SettingsStore::filePath() const {
    return folder_.empty() ? std::string() : folder_ + "/" + kFileName;
}

SettingsValues SettingsStore::readAll() const {
    if (folder_.empty()) return {};
    const std::optional<std::string> text = readWholeFile(filePath());
    if (!text) return {};
    std::optional<SettingsValues> values = SettingsValues::parse(*text);
    return values ? std::move(*values) : SettingsValues{};
}

bool SettingsStore::readNumber(std::string_view name, int32_t& out) const {
    const std::optional<int32_t> value = readAll().number(name);
    if (value) out = *value;
    return value.has_value();
}

bool SettingsStore::readText(std::string_view name, std::string& out) const {
    std::optional<std::string> value = readAll().text(name);
    if (value) out = std::move(*value);
    return value.has_value();
}

bool SettingsStore::writeNumber(std::string_view name, int32_t value) {
    return update([&](SettingsValues& v) { v.setNumber(name, value); });
}

bool SettingsStore::writeText(std::string_view name, std::string_view value) {
    return update([&](SettingsValues& v) { v.setText(name, value); });
}

bool SettingsStore::update(const std::function<void(SettingsValues&)>& edit) {
    if (folder_.empty()) {
        SettingsValues none;
        edit(none);
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    FolderLock lock(folder_ + "/" + kLockFileName);
    SettingsValues values = readAll();
    const SettingsValues before = values;
    edit(values);
    if (!lock.held()) return false;
    if (values == before) return true;

    // A name no other writer can pick: process id plus a per-process counter.
    static std::atomic<uint32_t> counter{0};
    const std::string temp = folder_ + "/." + kFileName + "." + std::to_string(::getpid()) + "." +
                             std::to_string(counter.fetch_add(1, std::memory_order_relaxed)) + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = writeAll(fd, values.serialize()) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.c_str(), filePath().c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    fileWrites_.fetch_add(1, std::memory_order_relaxed);
    return true;
}

}  // namespace kf::platform
