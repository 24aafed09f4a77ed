#pragma once

#include "core/result.hpp"
#include "platform/os_string.hpp"

namespace quern::project {

// The questions resolve_project asks of the file system, as a seam: the OS
// answers them in the runtime (platform/path.hpp), a recording fake in tests.
class ProjectFileSystem {
public:
    virtual ~ProjectFileSystem() = default;

    // The path with every link resolved; on failure the OS error text alone.
    virtual Result<platform::OsString> final_path(const platform::OsString& path) = 0;
    // Following links; false when the attributes cannot be read.
    virtual bool is_directory(const platform::OsString& path) = 0;
    virtual bool is_file(const platform::OsString& path) = 0;
};

// The file system of the running OS.
ProjectFileSystem& os_file_system();

}  // namespace quern::project
