#pragma once

#include "base/result.hpp"
#include "platform/handle.hpp"
#include "platform/process.hpp"
#include "project/resolve_project.hpp"

namespace quern::project {

// A started backend and the runtime's ends of its three pipes. Each end has one
// owner at a time: start-up moves each out to the thread that serves it, and
// the event loop keeps the process. Its tree is bound to the runtime
// (platform::ProcessStart::bind_tree) unless the OS refused, which
// process.tree_binding_failure() tells. On POSIX the backend leads a process
// group of its own, whose id is process.process_id(), so that its whole tree
// can be ended.
struct BackendProcess {
    platform::ChildProcess process;
    platform::OwnedHandle stdin_pipe;   // the runtime writes the backend's input here
    platform::OwnedHandle stdout_pipe;  // the runtime reads the backend's output here
    platform::OwnedHandle stderr_pipe;  // the runtime reads the backend's diagnostics here
};

// Starts the project's interpreter on the backend module: python_path with the
// arguments "-u", "-m", "quern.gui_backend", "--project", project_dir; in the
// project directory (on Windows without its \\?\ prefix where that changes
// nothing); with the runtime's environment but PYTHONUTF8=1 and
// PYTHONIOENCODING=utf-8 set and PYTHONHOME and PYTHONPATH removed (on Windows
// in any letter case); with three new pipes as its standard streams, and, on
// POSIX, in a process group of its own. Windows starts it without a console
// window. Its tree is bound to the runtime: it ends when the runtime does,
// however the runtime ends; where the OS refuses that, the backend starts
// unbound all the same. The runtime's copies of the child's pipe ends are
// closed before this returns. On failure, "Failed to start project Python: " +
// OS error text, and nothing is left behind: no process, no pipe. Made once per
// run; never retried.
base::Result<BackendProcess> launch_backend(const ResolvedProject& project);

}  // namespace quern::project
