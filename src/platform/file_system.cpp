#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kf::platform {

const char kPathSeparator = '/';

bool isWritableFolder(const std::string& path) {
    return isFolder(path) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::FILE* openRegularStream(const std::string& path) {
    // Non-blocking open: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* stream = ::fdopen(fd, "rb");
    if (!stream) ::close(fd);
    return stream;
}

std::FILE* createFileStream(const std::string& path) {
    return std::fopen(path.c_str(), "wb");
}

std::vector<FolderEntry> listFolder(const std::string& folder) {
    std::vector<FolderEntry> entries;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        entries.push_back(
            {it->path().filename().string(), it->is_directory(typeError), it->is_symlink(typeError)});
    }
    return entries;
}

}  // namespace kf::platform
