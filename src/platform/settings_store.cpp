#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/user_data.h"

namespace kf::platform {

namespace {

// Far beyond any real settings file; a bigger file is not ours.
constexpr off_t kMaxFileBytes = 4 << 20;

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

// --- store -----------------------------------------------------------------------------------

std::string SettingsStore::defaultFolder() {
    const char* override = std::getenv(kFolderEnvironment);
    if (override && *override) return override;
    const std::string base = userConfigFolder();
    return base.empty() ? std::string() : base + "/Tallow Mill/Kestrafone";
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
            result.problem = std::string("it does not start with the line \"") +
                             std::string(SettingsValues::kFileHeader) + "\"";
    }
    if (!result.problem.empty()) readOnly_.store(true, std::memory_order_relaxed);
    return result;
}

SettingsValues SettingsStore::readAll() const {
    return readFile().values;
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
    const std::size_t editsBefore = values.edits();
    edit(values);
    if (!lock.held()) return false;
    if (values.edits() == editsBefore) return true;
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
