#pragma once

#include <string_view>
#include <vector>

#include "base/result.hpp"
#include "platform/os_string.hpp"

namespace quern::platform {

// Paths as this platform spells them. Windows: drive, UNC and \\?\ forms, names
// joined with '\' (the rules are in windows_rules/path.hpp). POSIX: names joined with '/'.

// Whether the path is absolute, judged from its text alone. Windows: a drive
// with a root, a UNC share, or a \\?\ or \\.\ form. POSIX: it starts with '/'.
// The empty string is not absolute anywhere.
bool is_absolute_path(OsStringView path);

// The base and one more name, with one separator between them.
OsString join_path(OsStringView base, OsStringView name);

// Whether the path lies at or below the directory, compared by whole
// components. Windows: only a drive letter ignores case. POSIX: exact bytes.
bool path_is_inside(OsStringView path, OsStringView directory);

// The path's final form, every link resolved. Windows: GetFinalPathNameByHandleW
// (flags 0) on a handle opened with no access rights, full sharing and backup
// semantics, so it reads \\?\C:\... or \\?\UNC\server\share\...; POSIX:
// realpath(3). On failure the message is the OS error text alone.
base::Result<OsString> final_path(const OsString& path);

// Whether the path, following links, is a directory; false when its attributes
// cannot be read.
bool is_directory(const OsString& path);

// Whether the path, following links, is a file. Windows: it exists and is not a
// directory. POSIX: stat(2) says it is a regular file. False when its attributes
// cannot be read.
bool is_file(const OsString& path);

// The form of a final path to give a child process as its working directory.
// Windows: without the \\?\ prefix when GetFullPathNameW returns that shorter
// form unchanged (see windows::working_directory), else the final path as it is.
// POSIX: the final path as it is.
OsString working_directory_form(const OsString& final_path);

// Where a Python virtual environment keeps its interpreter: the names under
// the environment's directory, and whether the file's own last link is
// followed when it is resolved. Windows: Scripts\python.exe, followed. POSIX:
// bin/python, not followed: it is usually a link to the base interpreter
// outside the environment, and Python finds its environment from the path it
// was started by.
struct VenvInterpreter {
    std::vector<std::string_view> names;
    bool follow_last_link = false;
};
const VenvInterpreter& venv_interpreter();

}  // namespace quern::platform
