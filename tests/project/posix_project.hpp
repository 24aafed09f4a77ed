#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/scratch_directory.hpp"
#include "support/test_process.hpp"

namespace quern::project {

// A quern/gui_backend.py that records, as the helper child program does, what
// the backend was given: every argument the interpreter saw (sys.orig_argv),
// its working directory, its environment and its whole input; then "recorded"
// on standard error.
inline constexpr const char* kRecordingBackend = R"(import os
import sys


def record(key, value):
    sys.stdout.buffer.write(key + b"=" + value + b"\0")


data = sys.stdin.buffer.read()
for argument in sys.orig_argv:
    record(b"arg", os.fsencode(argument))
record(b"cwd", os.getcwdb())
for name, value in os.environb.items():
    record(b"env", name + b"=" + value)
record(b"stdin", data)
sys.stdout.buffer.flush()
sys.stderr.write("recorded\n")
)";

// A real virtual environment, as a project has one.
inline void make_virtual_environment(const std::filesystem::path& venv) {
    const testing::ProgramOutput made =
        testing::run_program("/usr/bin/env", {"python3", "-m", "venv", "--without-pip", venv.native()});
    ASSERT_EQ(made.exit_code, 0) << "python3 -m venv failed: " << made.err;
}

// A complete project in the directory: a real .venv and the recording backend.
inline void make_project(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    make_virtual_environment(dir / ".venv");
    testing::write_file(dir / "quern" / "gui_backend.py", kRecordingBackend);
}

}  // namespace quern::project
