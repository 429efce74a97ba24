#include "platform/file_identity.h"

#include <windows.h>

#include <optional>

#include "platform/win32/regular_file.h"
#include "platform/win32/wide_text.h"

namespace kf::platform {

namespace {

struct Identity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

// A file's identity: the serial number of its volume and its index there, the same for
// every path and every hard link that leads to it. Opened without access rights and with
// every sharing mode, so a file another program holds open (even for writing) still answers.
std::optional<Identity> identityOf(const std::string& path) {
    if (path.empty()) return std::nullopt;
    ScopedHandle file(CreateFileW(widen(path).c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    return Identity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
    const std::optional<Identity> ia = identityOf(a);
    const std::optional<Identity> ib = identityOf(b);
    return ia && ib && ia->volume == ib->volume && ia->indexHigh == ib->indexHigh &&
           ia->indexLow == ib->indexLow;
}

}  // namespace kf::platform
