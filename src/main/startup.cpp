#include "main/startup.hpp"

#include <string_view>

#include "main/command_line.hpp"
#include "main/run_backend.hpp"
#include "output/record_writer.hpp"
#include "output/records.hpp"
#include "platform/std_streams.hpp"
#include "project/launch_backend.hpp"
#include "project/resolve_project.hpp"

namespace quern {

namespace {

constexpr int kExitClean = 0;
constexpr int kExitFailed = 1;

int fail_startup(std::string_view message) {
    // The exit status is the same whether or not the front end got the record.
    (void)output::emit_record(output::fatal_record(message));
    return kExitFailed;
}

}  // namespace

int run_runtime(const std::vector<platform::OsString>& command_line) {
    std::vector<platform::OsString> arguments;
    if (!command_line.empty()) arguments.assign(command_line.begin() + 1, command_line.end());
    const CommandLine parsed = parse_command_line(arguments);
    switch (parsed.action) {
        case CommandLine::Action::Help:
            (void)platform::write_stderr(kUsageText);
            return kExitClean;
        case CommandLine::Action::Fail:
            return fail_startup(parsed.message);
        case CommandLine::Action::Run:
            break;
    }
    Result<project::ResolvedProject> resolved = project::resolve_project(parsed.project_path);
    if (!resolved) return fail_startup(resolved.error());
    Result<project::BackendProcess> backend = project::launch_backend(resolved.value());
    if (!backend) return fail_startup(backend.error());
    return run_backend(std::move(backend).value());
}

}  // namespace quern
