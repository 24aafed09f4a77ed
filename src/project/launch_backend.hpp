#pragma once

#include "core/result.hpp"
#include "project/backend_process.hpp"
#include "project/resolve_project.hpp"

namespace quern::project {

// Starts the project's interpreter on the backend module: python_path with the
// arguments "-u", "-m", "quern.gui_backend", "--project", project_dir; in the
// project directory (on Windows without its \\?\ prefix where that changes
// nothing); with the runtime's environment but PYTHONUTF8=1 and
// PYTHONIOENCODING=utf-8 set and PYTHONHOME and PYTHONPATH removed (on Windows
// in any letter case); with three new pipes as its standard streams, and, on
// POSIX, in a process group of its own. Windows starts it without a console
// window. The runtime's copies of the child's pipe ends are closed before this
// returns. On failure, "Failed to start project Python: " + OS error text, and
// nothing is left behind: no process, no pipe. Made once per run; never retried.
Result<BackendProcess> launch_backend(const ResolvedProject& project);

}  // namespace quern::project
