#include "platform/safe_files.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/win32/regular_file.h"
#include "platform/win32/wide_text.h"

namespace kf::platform {

namespace {

std::string tooLarge(const std::string& path, uint64_t size, uint64_t maxBytes) {
    return path + " is too large (" + std::to_string(size) + " bytes; at most " + std::to_string(maxBytes) +
           ")";
}

// What stands at path now. A link is followed to the file it ends at: the final path then
// names that file. Missing: exists false and no error.
bool examineTarget(const std::string& path, std::wstring& finalPath, bool& exists, std::string& error) {
    const std::wstring wide = widen(path);
    // Backup semantics open folders too, so that they can be told apart; no access rights
    // are asked for, so a file open elsewhere is examined all the same.
    ScopedHandle target(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!target.valid()) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) {
            exists = false;
            finalPath = wide;
            return true;
        }
        error = "cannot examine " + path + ": " + systemErrorText(code);
        return false;
    }
    exists = true;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(target.get()) != FILE_TYPE_DISK) {
        error = path + " is a device; only a regular file is replaced";
        return false;
    }
    if (!GetFileInformationByHandle(target.get(), &info)) {
        error = "cannot examine " + path + ": " + systemErrorText(GetLastError());
        return false;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = path + " is a folder; only a regular file is replaced";
        return false;
    }
    // Windows refuses to replace such a file by a rename; said plainly here, on every system.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        error = path + " is read-only";
        return false;
    }
    finalPath = wide;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        std::wstring resolved(MAX_PATH, L'\0');
        DWORD length =
            GetFinalPathNameByHandleW(target.get(), resolved.data(), MAX_PATH, FILE_NAME_NORMALIZED);
        if (length >= MAX_PATH) {
            resolved.resize(length);
            length = GetFinalPathNameByHandleW(target.get(), resolved.data(), length, FILE_NAME_NORMALIZED);
        }
        if (length == 0 || length >= resolved.size()) {
            error = "cannot follow the link " + path;
            return false;
        }
        resolved.resize(length);
        finalPath = resolved;
    }
    return true;
}

}  // namespace

int openRegularFile(const std::string& path, uint64_t maxBytes, std::string& error) {
    uint64_t size = 0;
    ScopedHandle file(openRegularHandle(path, size, error));
    if (!file.valid()) return -1;
    if (size > maxBytes) {
        error = tooLarge(path, size, maxBytes);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        error = "cannot read " + path;
        return -1;
    }
    file.release();  // the descriptor owns it now
    return fd;
}

bool readRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& out,
                     std::string& error) {
    uint64_t size = 0;
    ScopedHandle file(openRegularHandle(path, size, error));
    if (!file.valid()) return false;
    out.clear();
    uint8_t buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
            error = "cannot read " + path + ": " + systemErrorText(GetLastError());
            return false;
        }
        if (n == 0) return true;
        // The file may grow while it is read; the limit holds all the same.
        if (out.size() + n > maxBytes) {
            error = path + " is too large (more than " + std::to_string(maxBytes) + " bytes)";
            return false;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
}

bool FileReplacement::begin(const std::string& path, std::string& error) {
    abandon();
    if (path.empty()) {
        error = "no file name given";
        return false;
    }
    std::wstring target;
    bool exists = false;
    if (!examineTarget(path, target, exists, error)) return false;
    target_ = narrow(target);
    // A name no other writer picks: the process id and a per-process counter.
    static std::atomic<uint32_t> counter{0};
    const std::size_t cut = target.find_last_of(L"\\/");
    const std::wstring folder = cut == std::wstring::npos ? std::wstring() : target.substr(0, cut + 1);
    const std::wstring name = cut == std::wstring::npos ? target : target.substr(cut + 1);
    int code = 0;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const std::wstring temporary =
            folder + L"." + name + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
            std::to_wstring(counter.fetch_add(1, std::memory_order_relaxed)) + L".tmp";
        code = _wsopen_s(&fd_, temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYWR,
                         _S_IREAD | _S_IWRITE);
        if (fd_ >= 0) temporary_ = narrow(temporary);
        if (fd_ < 0 && code != EEXIST) break;
    }
    if (fd_ < 0) {
        error = "cannot write beside " + path + ": " + std::strerror(code);
        return false;
    }
    return true;
}

bool FileReplacement::commit(std::string& error) {
    if (fd_ < 0) {
        error = "nothing to save";
        return false;
    }
    const bool flushed = _commit(fd_) == 0;
    const bool closed = _close(fd_) == 0;
    fd_ = -1;
    if (!flushed || !closed) {
        error = "cannot save " + target_ + ": " + std::strerror(errno);
        abandon();
        return false;
    }
    // The rename replaces the old file in one step; a read-only file is refused, not replaced.
    if (!MoveFileExW(widen(temporary_).c_str(), widen(target_).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = "cannot save " + target_ + ": " + systemErrorText(GetLastError());
        abandon();
        return false;
    }
    temporary_.clear();
    return true;
}

void FileReplacement::abandon() {
    if (fd_ >= 0) _close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) DeleteFileW(widen(temporary_).c_str());
    temporary_.clear();
}

bool replaceFile(const std::string& path, std::span<const uint8_t> bytes, std::string& error) {
    FileReplacement replacement;
    if (!replacement.begin(path, error)) return false;
    while (!bytes.empty()) {
        const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1u << 30));
        const int n = _write(replacement.fd(), bytes.data(), chunk);
        if (n <= 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return replacement.commit(error);
}

}  // namespace kf::platform
