#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/os_string.hpp"

namespace quern::testing {

// A new directory of its own under the system's temporary directory, removed
// with all it holds when the object goes (links inside are removed, not
// followed).
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::random_device random;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = base / ("quern-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(path_)) return;
        }
        throw std::runtime_error("no scratch directory could be made");
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Writes the bytes to the file, making its directories first.
inline void write_file(const std::filesystem::path& file, std::string_view bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

inline platform::OsString os_path(const std::filesystem::path& path) { return path.native(); }

inline std::string utf8_path(const std::filesystem::path& path) { return platform::to_utf8_lossy(path.native()); }

}  // namespace quern::testing
