#pragma once

#include <filesystem>

#include "support/scratch_directory.hpp"
#include "support/test_process.hpp"

namespace quern::project {

// A complete project in the directory: the helper child program as its
// .venv\Scripts\python.exe, where without a script.txt it records what it was
// given, and an empty quern\gui_backend.py (the helper never reads it).
inline void make_project(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir / ".venv" / "Scripts");
    std::filesystem::copy_file(testing::test_child(), dir / ".venv" / "Scripts" / "python.exe");
    testing::write_file(dir / "quern" / "gui_backend.py", "");
}

}  // namespace quern::project
