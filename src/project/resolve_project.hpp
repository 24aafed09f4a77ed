#pragma once

#include "base/result.hpp"
#include "platform/os_string.hpp"

namespace quern::project {

// The questions resolve_project asks of the file system, as a seam: the OS
// answers them in the runtime (platform/path.hpp), a recording fake in tests.
class ProjectFileSystem {
public:
    virtual ~ProjectFileSystem() = default;

    // The path with every link resolved; on failure the OS error text alone.
    virtual base::Result<platform::OsString> final_path(const platform::OsString& path) = 0;
    // Following links; false when the attributes cannot be read.
    virtual bool is_directory(const platform::OsString& path) = 0;
    virtual bool is_file(const platform::OsString& path) = 0;
};

// The file system of the running OS.
ProjectFileSystem& os_file_system();

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
base::Result<ResolvedProject> resolve_project(const platform::OsString& argument);

// The same against a given file system (the seam for tests).
base::Result<ResolvedProject> resolve_project(const platform::OsString& argument, ProjectFileSystem& files);

}  // namespace quern::project
