#include "project/resolve_project.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "platform/path.hpp"

namespace quern::project {

namespace {

using platform::OsString;

// One file the project must hold, as path components under its directory.
struct ProjectItem {
    std::string_view label;
    std::vector<std::string_view> components;
    bool follow_last_link;  // false: only the directory holding it is resolved
};

// The project's virtual environment, laid out as the platform lays one out.
ProjectItem interpreter_item() {
    const platform::VenvInterpreter& venv = platform::venv_interpreter();
    ProjectItem item{"project Python", {".venv"}, venv.follow_last_link};
    item.components.insert(item.components.end(), venv.names.begin(), venv.names.end());
    return item;
}
const ProjectItem kInterpreter = interpreter_item();
const ProjectItem kBackendScript{"GUI backend", {"quern", "gui_backend.py"}, true};

OsString join_components(OsString path, const std::vector<std::string_view>& components, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        path = platform::join_path(path, platform::os_string_from_utf8(components[i]));
    }
    return path;
}

OsString item_path(const OsString& project_dir, const ProjectItem& item) {
    return join_components(project_dir, item.components, item.components.size());
}

base::Result<OsString> item_final_path(const OsString& project_dir, const ProjectItem& item, ProjectFileSystem& files) {
    if (item.follow_last_link) return files.final_path(item_path(project_dir, item));
    const std::size_t parents = item.components.size() - 1;
    base::Result<OsString> parent = files.final_path(join_components(project_dir, item.components, parents));
    if (!parent) return parent;
    return platform::join_path(parent.value(), platform::os_string_from_utf8(item.components.back()));
}

base::Status check_item(const OsString& project_dir, const ProjectItem& item, ProjectFileSystem& files) {
    const std::string label(item.label);
    const OsString joined = item_path(project_dir, item);
    if (!files.is_file(joined)) return base::Failure{"Missing " + label + ": " + platform::to_utf8_lossy(joined)};
    const base::Result<OsString> resolved = item_final_path(project_dir, item, files);
    if (!resolved) return base::Failure{"Cannot resolve " + label + ": " + resolved.error()};
    if (!platform::path_is_inside(resolved.value(), project_dir)) {
        return base::Failure{label + " must resolve inside the selected project"};
    }
    return {};
}

class OsFileSystem final : public ProjectFileSystem {
public:
    base::Result<platform::OsString> final_path(const platform::OsString& path) override {
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

base::Result<ResolvedProject> resolve_project(const OsString& argument) {
    return resolve_project(argument, os_file_system());
}

base::Result<ResolvedProject> resolve_project(const OsString& argument, ProjectFileSystem& files) {
    if (!platform::is_absolute_path(argument)) return base::Failure{"--project must be an absolute directory path"};
    base::Result<OsString> project_dir = files.final_path(argument);
    if (!project_dir) return base::Failure{"Cannot access project directory: " + project_dir.error()};
    if (!files.is_directory(project_dir.value())) return base::Failure{"--project must point to a directory"};
    for (const ProjectItem* item : {&kInterpreter, &kBackendScript}) {
        if (base::Status checked = check_item(project_dir.value(), *item, files); !checked) return base::Failure{checked.error()};
    }
    OsString python_path = item_path(project_dir.value(), kInterpreter);
    return ResolvedProject{std::move(project_dir).value(), std::move(python_path)};
}

}  // namespace quern::project
