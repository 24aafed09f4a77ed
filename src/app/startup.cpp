#include "app/startup.hpp"

#include <optional>
#include <string>
#include <string_view>

#include "app/command_line.hpp"
#include "base/exit_status.hpp"
#include "io/output.hpp"
#include "io/workers.hpp"
#include "loop/event_loop.hpp"
#include "loop/timings.hpp"
#include "platform/this_process.hpp"
#include "project/backend_control.hpp"
#include "project/launch_backend.hpp"
#include "project/resolve_project.hpp"
#include "protocol/record_relay.hpp"
#include "protocol/records.hpp"
#include "protocol/request.hpp"

namespace quern::app {

namespace {

int fail_startup(std::string_view message) {
    // The exit status is the same whether or not the front end got the record.
    (void)io::emit_record(protocol::fatal_record(message));
    return base::kExitUnclean;
}

platform::OwnedHandle take_pipe(platform::OwnedHandle& pipe, const char* diagnostic) {
    // A launched backend always has its three pipes; anything else is a bug.
    if (!pipe.valid()) platform::exit_internal_fault(diagnostic);
    return std::move(pipe);
}

int run_session(project::BackendProcess backend) {
    auto [events, loop_events] = base::make_channel<io::RuntimeEvent>();
    auto [backend_input, writer_input] = base::make_channel<std::string>(io::kBackendInputCapacity);
    io::start_backend_input_writer(std::move(writer_input), take_pipe(backend.stdin_pipe, "piped backend stdin"),
                                   events.another(), loop::kBusySpin);
    io::start_line_reader(io::HandleByteSource::borrowing(platform::standard_input()),
                          protocol::kRequestLineLimit, io::EventSource::RuntimeStdin, events.another());
    io::start_line_reader(
        std::make_unique<io::HandleByteSource>(take_pipe(backend.stdout_pipe, "piped backend stdout")),
        protocol::kBackendLineLimit, io::EventSource::BackendStdout, events.another(),
        [relay = std::make_shared<protocol::RecordRelay>()](std::string_view line, std::string& out) {
            return relay->relay(line, out);
        });
    io::start_termination_watcher(events.another());
    io::start_exit_watcher(platform::ExitWatch(backend.process), events.another());
    // The stderr reader gets the channel's first handle: the loop keeps none.
    // (The termination watcher lets go of its own only when no request can
    // come any more, so in a run the channel stays open.)
    io::start_line_reader(
        std::make_unique<io::HandleByteSource>(take_pipe(backend.stderr_pipe, "piped backend stderr")),
        protocol::kBackendLineLimit, io::EventSource::BackendStderr, std::move(events));
    project::BackendControl control(backend.process, loop::kTreeEndingWaits);
    return loop::run_event_loop(control, std::move(loop_events), std::move(backend_input),
                                loop::standard_loop_io());
}

}  // namespace

int run_runtime(const std::vector<platform::OsString>& command_line) {
    std::vector<platform::OsString> arguments;
    if (!command_line.empty()) arguments.assign(command_line.begin() + 1, command_line.end());
    const CommandLine parsed = parse_command_line(arguments);
    switch (parsed.action) {
        case CommandLine::Action::Help:
            (void)platform::write_stderr(kUsageText);
            return base::kExitClean;
        case CommandLine::Action::Fail:
            return fail_startup(parsed.message);
        case CommandLine::Action::Run:
            break;
    }
    base::Result<project::ResolvedProject> resolved = project::resolve_project(parsed.project_path);
    if (!resolved) return fail_startup(resolved.error());
    // From before the backend starts, a termination request is the loop's to
    // answer: one that comes before the loop runs waits, counted, for the
    // watcher to pass it on. Should catching fail, a request ends the runtime
    // at once as before, and the backend's tree still ends with it.
    (void)platform::catch_termination_requests();
    base::Result<project::BackendProcess> backend = project::launch_backend(resolved.value());
    if (!backend) return fail_startup(backend.error());
    if (const std::string& failure = backend.value().process.tree_binding_failure(); !failure.empty()) {
        io::write_stderr_line(std::string(protocol::kTreeNotBoundNote) + failure);
    }
    return run_session(std::move(backend).value());
}

}  // namespace quern::app
