#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/os_string.hpp"
#include "platform/process.hpp"

// The few OS calls the tests' helper child program needs beyond the runtime's
// own platform layer.
namespace quern::test_child {

// The program file itself, so that it can start a copy of itself. argv0 is the
// name it was started under, which may be a link to it.
platform::OsString own_path(const platform::OsString& argv0);
unsigned long own_process_id();
// POSIX: its process group; Windows, which has none: 0.
unsigned long own_process_group();
void close_stdin();
// This process's stdout and stderr for a child to share; no stdin.
platform::ChildStdio own_output_streams();
// What only this OS can tell about how the process was started, as records:
// Windows the raw command line ("line"), POSIX each open descriptor ("fd").
std::vector<std::pair<std::string, std::string>> os_records();
// Its environment as the OS gave it, one "NAME=value" entry each.
std::vector<std::string> environment_entries();
// POSIX: replaces this process with the program, SIGCHLD ignored across the
// exec as a careless parent might leave it. False when it cannot (Windows has
// no such thing).
bool exec_ignoring_sigchld(const std::vector<platform::OsString>& program_and_arguments);
// Starts the program with the arguments outside this process's tree, as a
// backend that detaches a child on purpose does: POSIX in a session of its own
// (setsid), Windows broken away from this process's job
// (CREATE_BREAKAWAY_FROM_JOB); its standard streams on the null device; never
// waited for. False when it could not be started.
bool start_detached_copy(const platform::OsString& program, const std::vector<platform::OsString>& arguments);
// Windows: joins a new job object that forbids breaking away and has a UI
// limit, runs the program with this process's standard streams and answers
// its exit status. Nothing when that cannot be done (POSIX never can).
std::optional<int> run_in_closed_job(const std::vector<platform::OsString>& program_and_arguments);
// Runs the program holding one more inheritable descriptor (POSIX) or handle
// (Windows), named in the environment variable QUERN_STRAY_HANDLE. POSIX:
// replaces this process; Windows: starts the program with every inheritable
// handle, waits for it and exits with its exit code. False when it cannot.
bool run_with_stray_handle(const std::vector<platform::OsString>& program_and_arguments);
// Whether the descriptor or handle named in QUERN_STRAY_HANDLE is open in this
// process: "open", "closed", or "none" without the variable.
std::string stray_handle_state();

}  // namespace quern::test_child
