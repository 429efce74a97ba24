// Scratch folders and whole-file bytes, shared by the test folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kf::test {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        std::random_device random;
        // Made in one step, so a name another program took is simply passed over.
        for (int attempt = 0; attempt < 100 && path_.empty() && !ec; ++attempt) {
            const std::filesystem::path candidate = base / ("kf-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate, ec)) path_ = candidate;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // A UTF-8 path, as the program's own paths are.
    std::string file(const std::string& name) const {
        return platform::utf8Path(path_ / platform::fsPath(name));
    }

  private:
    std::filesystem::path path_;
};

inline void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kf::test
