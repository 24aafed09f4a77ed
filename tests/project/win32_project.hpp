#pragma once

#include <filesystem>

#include "support/child_streams.hpp"
#include "support/scratch_directory.hpp"

namespace quern::project {

// A complete project in the directory: the recording helper as its
// .venv\Scripts\python.exe and an empty quern\gui_backend.py (the helper never
// reads it).
inline void make_project(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir / ".venv" / "Scripts");
    std::filesystem::copy_file(testing::recording_python(), dir / ".venv" / "Scripts" / "python.exe");
    testing::write_file(dir / "quern" / "gui_backend.py", "");
}

}  // namespace quern::project
