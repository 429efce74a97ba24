// File access for paths that come from users, hosts and stored settings, which may name
// anything: a folder, a device that streams for ever, a pipe that blocks on open, a
// symbolic link. Reads open only regular files, without blocking, and up to a size limit;
// saves never replace anything but a regular file, and replace it only with a complete one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kf::platform {

// Opens a regular file for reading. The open itself does not block (a FIFO would wait for
// a writer otherwise); the descriptor returned is blocking again. -1 with a message naming
// the path when the file is missing, unreadable or not a regular file, or holds more than
// maxBytes bytes.
int openRegularFile(const std::string& path, uint64_t maxBytes, std::string& error);

// Reads a whole regular file of at most maxBytes bytes (rules as openRegularFile).
bool readRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& out,
                     std::string& error);

// Replaces a file by writing a temporary file beside it and renaming that over it on
// commit, so a failure at any point leaves the old file as it was. A symbolic link is
// followed to the file it names (the link stays); the target must be a regular file or
// absent. A replaced file keeps its permission bits.
class FileReplacement {
  public:
    FileReplacement() = default;
    ~FileReplacement() { abandon(); }
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Checks the target and creates the temporary file. False with a message when the
    // target is not a regular file or the folder cannot be written.
    bool begin(const std::string& path, std::string& error);
    // The temporary file's descriptor, open for writing, while begun.
    int fd() const { return fd_; }
    // Flushes and closes the temporary file and renames it over the target.
    bool commit(std::string& error);
    // Removes the temporary file; the target is untouched. Safe to call at any time.
    void abandon();

  private:
    int fd_ = -1;
    std::string target_, temporary_;
};

// Writes bytes to path through a FileReplacement.
bool replaceFile(const std::string& path, std::span<const uint8_t> bytes, std::string& error);

}  // namespace kf::platform
