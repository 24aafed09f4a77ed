#pragma once

#include <vector>

#include "platform/os_string.hpp"

namespace quern::app {

// Runs the runtime for a whole command line (program name first) and returns
// the process's exit status: 0 after help or a clean stop, 1 after a failed
// start-up (one fatal record on standard output, nothing on standard error) or
// an unclean stop. Termination requests are caught from before the backend
// starts. Once the backend runs, it makes the two channels, starts the five
// worker threads (writer, stdin reader, backend stdout reader, termination
// watcher, backend stderr reader, in that order), hands each its pipe, and
// runs the event loop on this thread.
int run_runtime(const std::vector<platform::OsString>& command_line);

}  // namespace quern::app
