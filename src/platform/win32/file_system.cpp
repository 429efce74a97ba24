#include "platform/file_system.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>

#include "platform/win32/regular_file.h"
#include "platform/win32/wide_text.h"

namespace kf::platform {

const char kPathSeparator = '\\';

namespace {

std::wstring inFolder(const std::string& folder, std::wstring_view name) {
    std::wstring path = widen(folder);
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    return path.append(name);
}

}  // namespace

HANDLE openRegularHandle(const std::string& path, uint64_t& size, std::string& error) {
    // Sharing everything: an open by another program (a sample editor, a backup tool) must
    // not make the file unreadable here, nor this read lock it against them.
    ScopedHandle file(CreateFileW(widen(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD code = GetLastError();
        // Opening a folder without backup semantics is refused as access denied.
        error = isFolder(path) ? path + " is a folder, not a file"
                               : "cannot open " + path + ": " + systemErrorText(code);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD type = GetFileType(file.get());
    LARGE_INTEGER bytes{};
    if (type != FILE_TYPE_DISK) {
        error = path + (type == FILE_TYPE_PIPE ? " is a pipe" : " is a device") + ", not a file";
    } else if (!GetFileSizeEx(file.get(), &bytes)) {
        error = "cannot examine " + path + ": " + systemErrorText(GetLastError());
    } else {
        size = static_cast<uint64_t>(bytes.QuadPart);
        return file.release();
    }
    return INVALID_HANDLE_VALUE;
}

bool isWritableFolder(const std::string& path) {
    if (!isFolder(path)) return false;
    // Access lists decide, and only an attempt shows their answer: a hidden file that goes
    // away as it is closed.
    static std::atomic<uint32_t> counter{0};
    const std::wstring probe =
        inFolder(path, L".kestrafone-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(counter.fetch_add(1, std::memory_order_relaxed)) + L".tmp");
    ScopedHandle file(
        CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file.valid();
}

std::FILE* openRegularStream(const std::string& path) {
    uint64_t size = 0;
    std::string error;
    ScopedHandle file(openRegularHandle(path, size, error));
    if (!file.valid()) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDONLY | _O_BINARY);
    if (fd < 0) return nullptr;
    file.release();  // the descriptor owns it now
    std::FILE* stream = _fdopen(fd, "rb");
    if (!stream) _close(fd);
    return stream;
}

std::FILE* createFileStream(const std::string& path) {
    return _wfopen(widen(path).c_str(), L"wb");
}

std::vector<FolderEntry> listFolder(const std::string& folder) {
    std::vector<FolderEntry> entries;
    if (folder.empty()) return entries;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(inFolder(folder, L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
        const std::wstring_view name(found.cFileName);
        if (name == L"." || name == L"..") continue;
        // Only symbolic links and junctions lead elsewhere; other reparse points (files
        // kept in the cloud, deduplicated files) are ordinary files and folders.
        const bool reparse = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        const bool link = reparse && (found.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
                                      found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
        entries.push_back({narrow(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, link});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

}  // namespace kf::platform
