#include "platform/safe_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace kf::platform {

namespace {

// The kernel's own limit on links followed in one path lookup.
constexpr int kMaxLinkHops = 40;

std::string describe(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return "a folder";
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    return "not a regular file";
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links from path to the file they end at, which may not exist yet.
bool resolveLinks(std::string path, std::string& resolved, struct stat& st, bool& exists,
                  std::string& error) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                error = "cannot examine " + path + ": " + std::strerror(errno);
                return false;
            }
            exists = false;
            resolved = path;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            exists = true;
            resolved = path;
            return true;
        }
        std::string link(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0 || static_cast<std::size_t>(n) >= link.size()) {
            error = "cannot follow the link " + path;
            return false;
        }
        link.resize(static_cast<std::size_t>(n));
        path = link.front() == '/' ? link : folderOf(path) + "/" + link;
    }
    error = "too many levels of links at " + path;
    return false;
}

}  // namespace

int openRegularFile(const std::string& path, uint64_t maxBytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = "cannot examine " + path + ": " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        error = path + " is " + describe(st) + ", not a file";
    } else if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        error = path + " is too large (" + std::to_string(st.st_size) + " bytes; at most " +
                std::to_string(maxBytes) + ")";
    } else {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) return fd;
        error = "cannot read " + path + ": " + std::strerror(errno);
    }
    ::close(fd);
    return -1;
}

bool readRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& out,
                     std::string& error) {
    const int fd = openRegularFile(path, maxBytes, error);
    if (fd < 0) return false;
    out.clear();
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            break;
        }
        if (n == 0) {
            ::close(fd);
            return true;
        }
        // The file may grow while it is read; the limit holds all the same.
        if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
            error = path + " is too large (more than " + std::to_string(maxBytes) + " bytes)";
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    ::close(fd);
    return false;
}

bool FileReplacement::begin(const std::string& path, std::string& error) {
    abandon();
    if (path.empty()) {
        error = "no file name given";
        return false;
    }
    struct stat st {};
    bool exists = false;
    if (!resolveLinks(path, target_, st, exists, error)) return false;
    if (exists && !S_ISREG(st.st_mode)) {
        error = path + " is " + describe(st) + "; only a regular file is replaced";
        return false;
    }
    // A name no other writer picks: the process id and a per-process counter. Created with
    // 0666 so the umask decides, as for any new file; a replaced file keeps its own bits.
    static std::atomic<uint32_t> counter{0};
    const std::size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temporary_ = folder + "." + name + "." + std::to_string(::getpid()) + "." +
                     std::to_string(counter.fetch_add(1, std::memory_order_relaxed)) + ".tmp";
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        error = "cannot write beside " + target_ + ": " + std::strerror(errno);
        temporary_.clear();
        return false;
    }
    if (exists) ::fchmod(fd_, st.st_mode & 07777);
    return true;
}

bool FileReplacement::commit(std::string& error) {
    if (fd_ < 0) {
        error = "nothing to save";
        return false;
    }
    const bool synced = ::fsync(fd_) == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!synced || !closed || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = "cannot save " + target_ + ": " + std::strerror(errno);
        abandon();
        return false;
    }
    temporary_.clear();
    return true;
}

void FileReplacement::abandon() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

bool replaceFile(const std::string& path, std::span<const uint8_t> bytes, std::string& error) {
    FileReplacement replacement;
    if (!replacement.begin(path, error)) return false;
    while (!bytes.empty()) {
        const ssize_t n = ::write(replacement.fd(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return replacement.commit(error);
}

}  // namespace kf::platform
