#pragma once

#include "platform/handle.hpp"
#include "platform/process.hpp"

namespace quern::project {

// A started backend and the runtime's ends of its three pipes. Each end has one
// owner at a time: start-up moves each out to the thread that serves it, and
// the event loop keeps the process. On POSIX the backend leads a process group
// of its own, whose id is process.process_id(), so that its whole tree can be
// ended.
struct BackendProcess {
    platform::ChildProcess process;
    platform::OwnedHandle stdin_pipe;   // the runtime writes the backend's input here
    platform::OwnedHandle stdout_pipe;  // the runtime reads the backend's output here
    platform::OwnedHandle stderr_pipe;  // the runtime reads the backend's diagnostics here
};

}  // namespace quern::project
