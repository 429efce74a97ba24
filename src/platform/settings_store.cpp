#include "platform/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Reads the whole file. Missing (or below a folder that cannot exist): empty text and no
// problem. Anything else that stops the read is the problem, and the text is empty.
std::string readWholeFile(const std::string& path, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            problem = std::string("it cannot be read (") + std::strerror(errno) + ")";
        return {};
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = "it is not a regular file";
    } else if (st.st_size > kMaxFileBytes) {
        problem = "it is larger than 4 MiB";
    } else {
        std::string text;
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, static_cast<std::size_t>(n));
                if (text.size() <= static_cast<std::size_t>(kMaxFileBytes)) continue;
                problem = "it is larger than 4 MiB";
            } else if (n == 0) {
                ::close(fd);
                return text;
            } else if (errno == EINTR) {
                continue;
            } else {
                problem = std::string("it cannot be read (") + std::strerror(errno) + ")";
            }
            break;
        }
    }
    ::close(fd);
    return {};
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

std::optional<SettingsValues> SettingsValues::parse(std::string_view text, std::string* tolerated) {
    std::string notes;
    const auto note = [&](const std::string& what) {
        if (notes.find(what) == std::string::npos) notes += (notes.empty() ? "" : ", ") + what;
    };
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
        note("it starts with a byte-order mark");
    }
    SettingsValues values;
    bool headerSeen = false;
    int lineNumber = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
            note("it has CRLF line ends");
        }
        if (!headerSeen) {
            if (line != kHeader) return std::nullopt;
            headerSeen = true;
            continue;
        }
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        const bool shaped = line.find('\0') == std::string_view::npos && tab2 != std::string_view::npos &&
                            line.find('\t', tab2 + 1) == std::string_view::npos;
        const std::string_view type = shaped ? line.substr(0, tab1) : std::string_view();
        const std::optional<std::string> name =
            shaped ? unescape(line.substr(tab1 + 1, tab2 - tab1 - 1)) : std::nullopt;
        const std::string_view raw = shaped ? line.substr(tab2 + 1) : std::string_view();
        bool read = false;
        if (name && !name->empty() && type == kNumberType) {
            int32_t value = 0;
            const auto [end2, ec] = std::from_chars(raw.data(), raw.data() + raw.size(), value);
            read = ec == std::errc() && end2 == raw.data() + raw.size();
            if (read) values.setNumber(*name, value);
        } else if (name && !name->empty() && type == kTextType) {
            const std::optional<std::string> value = unescape(raw);
            read = value.has_value();
            if (read) values.setText(*name, *value);
        }
        if (!read) note("line " + std::to_string(lineNumber) + " cannot be read");
    }
    if (!headerSeen) return std::nullopt;
    if (tolerated) *tolerated = notes;
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

SettingsStore::FileContents SettingsStore::readFile() const {
    FileContents result;
    if (folder_.empty()) return result;
    const std::string text = readWholeFile(filePath(), result.problem);
    if (result.problem.empty() && !text.empty()) {
        std::optional<SettingsValues> values = SettingsValues::parse(text, &result.problem);
        if (values)
            result.values = std::move(*values);
        else
            result.problem = std::string("it does not start with the line \"") + std::string(kHeader) + "\"";
    }
    if (!result.problem.empty()) readOnly_.store(true, std::memory_order_relaxed);
    return result;
}

SettingsValues SettingsStore::readAll() const {
    return readFile().values;
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
    FileContents current = readFile();
    SettingsValues& values = current.values;
    const SettingsValues before = values;
    edit(values);
    if (!lock.held()) return false;
    if (values == before) return true;
    if (readOnly()) {
        if (!noticeShown_.exchange(true))
            std::fprintf(stderr, "Kestrafone: settings are not saved to %s in this session: %s\n",
                         filePath().c_str(),
                         current.problem.empty() ? "it was found damaged earlier" : current.problem.c_str());
        return false;
    }

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
