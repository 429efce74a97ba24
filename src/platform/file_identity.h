// Whether two paths name one file: through links, hard links and other spellings of the
// path, a file has one identity (on POSIX its device and inode number, on Windows its
// volume serial number and file index).
#pragma once

#include <string>

namespace kf::platform {

// True when both paths exist and lead to the same file. A missing path is no file's.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace kf::platform
