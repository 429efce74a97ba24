// Windows: opening a file that a user, a host or a stored setting names. Only a regular file
// on a disk is opened; a folder, a pipe, a console or another device is refused.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kf::platform {

// A handle open for reading, and the file's size; INVALID_HANDLE_VALUE with a message naming
// the path when the file is missing, unreadable or not a regular file.
HANDLE openRegularHandle(const std::string& path, uint64_t& size, std::string& error);

// Closes the handle with the object.
class ScopedHandle {
  public:
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() {
        if (valid()) CloseHandle(handle_);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    // Hands the handle on; the object no longer closes it.
    HANDLE release() {
        HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return h;
    }

  private:
    HANDLE handle_;
};

}  // namespace kf::platform
