#pragma once

#include <vector>

#include "platform/os_string.hpp"

namespace quern {

// Runs the runtime for a whole command line (program name first) and returns
// the process's exit status: 0 after help or a clean stop, 1 after a failed
// start-up (one fatal record on standard output, nothing on standard error).
int run_runtime(const std::vector<platform::OsString>& command_line);

}  // namespace quern
