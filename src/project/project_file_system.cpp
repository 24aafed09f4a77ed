#include "project/project_file_system.hpp"

#include "platform/path.hpp"

namespace quern::project {

namespace {

class OsFileSystem final : public ProjectFileSystem {
public:
    Result<platform::OsString> final_path(const platform::OsString& path) override {
        return platform::final_path(path);
    }
    bool is_directory(const platform::OsString& path) override { return platform::is_directory(path); }
    bool is_file(const platform::OsString& path) override { return platform::is_file(path); }
};

}  // namespace

ProjectFileSystem& os_file_system() {
    static OsFileSystem files;
    return files;
}

}  // namespace quern::project
