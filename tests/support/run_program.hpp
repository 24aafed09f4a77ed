#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/os_string.hpp"

namespace quern::testing {

struct ProgramOutput {
    int exit_code = -1;  // on POSIX, 128 + N after death by signal N
    std::string out;
    std::string err;
};

struct RunOptions {
    std::string_view stdin_text = {};  // written to standard input, which is then closed
    bool close_stdout = false;    // close the reading end of its stdout at once
};

// Runs a program with the arguments (program name not included), feeds its
// standard input, collects both output streams until they end and waits for
// the program to exit.
ProgramOutput run_program(const platform::OsString& program,
                          const std::vector<platform::OsString>& arguments,
                          const RunOptions& options = {});

// The quern-runtime executable built beside the tests.
platform::OsString runtime_binary();

// A program built beside quern-runtime, such as the tests' helper programs
// (".exe" is added on Windows).
platform::OsString program_beside_runtime(std::string_view name);

// Runs quern-runtime with UTF-8 arguments.
ProgramOutput run_runtime_binary(const std::vector<std::string>& arguments,
                                 const RunOptions& options = {});

}  // namespace quern::testing
