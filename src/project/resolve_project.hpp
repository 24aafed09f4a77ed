#pragma once

#include "core/result.hpp"
#include "platform/os_string.hpp"
#include "project/project_file_system.hpp"

namespace quern::project {

// A project that passed every check: both paths are final and lie inside it.
struct ResolvedProject {
    platform::OsString project_dir;  // the final path of the project directory
    platform::OsString python_path;  // project_dir joined with the interpreter's
                                     // components, not the interpreter's own final path
};

// Checks the --project argument and the layout under it, in this order, and
// stops at the first failure with its one message:
//   1. the argument is absolute (its text alone; nothing on disk is touched):
//      "--project must be an absolute directory path";
//   2. its final path, project_dir: "Cannot access project directory: " + OS error text;
//   3. project_dir is a directory: "--project must point to a directory";
//   4. for the interpreter ("project Python": Windows .venv\Scripts\python.exe,
//      POSIX .venv/bin/python), then the backend script ("GUI backend":
//      quern, gui_backend.py): the joined path is a file, "Missing " + label +
//      ": " + joined path; its final path, "Cannot resolve " + label + ": " +
//      OS error text; that final path lies inside project_dir (whole
//      components), label + " must resolve inside the selected project".
// On POSIX the interpreter's own last link is not followed: a virtual
// environment's bin/python is by design a link to the base interpreter, so it
// is the final path of its directory, joined with "python", that must lie
// inside the project (a .venv or .venv/bin linked outside is still refused).
// Paths in messages are UTF-8, ill-formed sequences replaced by U+FFFD. Writes
// nothing and starts nothing.
Result<ResolvedProject> resolve_project(const platform::OsString& argument);

// The same against a given file system (the seam for tests).
Result<ResolvedProject> resolve_project(const platform::OsString& argument, ProjectFileSystem& files);

}  // namespace quern::project
