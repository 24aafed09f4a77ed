#include "project/launch_backend.hpp"

#include <string>
#include <utility>

#include "platform/environment.hpp"
#include "platform/path.hpp"

namespace quern::project {

namespace {

using platform::OsString;
using platform::os_string_from_utf8;

constexpr std::string_view kStartFailed = "Failed to start project Python: ";

base::Failure start_failure(const std::string& os_error_text) { return base::Failure{std::string(kStartFailed) + os_error_text}; }

platform::EnvironmentChanges backend_environment_changes() {
    platform::EnvironmentChanges changes;
    changes.set = {{os_string_from_utf8("PYTHONUTF8"), os_string_from_utf8("1")},
                   {os_string_from_utf8("PYTHONIOENCODING"), os_string_from_utf8("utf-8")}};
    changes.remove = {os_string_from_utf8("PYTHONHOME"), os_string_from_utf8("PYTHONPATH")};
    return changes;
}

platform::ProcessStart backend_start(const ResolvedProject& project) {
    platform::ProcessStart start;
    start.program = project.python_path;
    start.arguments = {os_string_from_utf8("-u"), os_string_from_utf8("-m"), os_string_from_utf8("quern.gui_backend"),
                       os_string_from_utf8("--project"), project.project_dir};
    start.working_directory = platform::working_directory_form(project.project_dir);
    start.environment = platform::current_environment_with(backend_environment_changes());
    start.new_process_group = true;
    start.bind_tree = true;
    return start;
}

}  // namespace

base::Result<BackendProcess> launch_backend(const ResolvedProject& project) {
    base::Result<platform::ChildPipe> input = platform::create_child_stdio_pipe(platform::ChildEnd::Reads);
    if (!input) return start_failure(input.error());
    base::Result<platform::ChildPipe> output = platform::create_child_stdio_pipe(platform::ChildEnd::Writes);
    if (!output) return start_failure(output.error());
    base::Result<platform::ChildPipe> error = platform::create_child_stdio_pipe(platform::ChildEnd::Writes);
    if (!error) return start_failure(error.error());

    platform::ProcessStart start = backend_start(project);
    start.stdio = {input.value().child.native(), output.value().child.native(), error.value().child.native()};
    base::Result<platform::ChildProcess> child = platform::start_child_process(start);
    // The child's ends go now, started or not: the end of the backend's output
    // must show once the backend (and whatever inherited them) has closed them.
    input.value().child.close();
    output.value().child.close();
    error.value().child.close();
    if (!child) return start_failure(child.error());
    return BackendProcess{std::move(child).value(), std::move(input.value().runtime),
                          std::move(output.value().runtime), std::move(error.value().runtime)};
}

}  // namespace quern::project
