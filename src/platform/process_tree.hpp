#pragma once

#include <optional>

#include "platform/process.hpp"

namespace quern::platform {

// Starts ending a child's whole process tree. Windows: runs
// taskkill.exe /PID <pid> /T /F from the system directory, with all three
// standard streams on the null device and no window, and returns that process
// for the caller to wait on (nullopt when it could not be started). POSIX:
// sends SIGKILL to the child's process group at once and returns nullopt.
// Failures are silent: the caller goes on to end the child itself.
std::optional<ChildProcess> start_ending_process_tree(ChildProcess& child);

}  // namespace quern::platform
