#include "main/run_backend.hpp"

#include "core/event_loop.hpp"
#include "core/fatal.hpp"
#include "core/reader_thread.hpp"
#include "project/process_tree.hpp"
#include "request/backend_input_writer.hpp"

namespace quern {

namespace {

platform::OwnedHandle take_pipe(platform::OwnedHandle& pipe, const char* diagnostic) {
    // A launched backend always has its three pipes; anything else is a bug.
    if (!pipe.valid()) fatal_internal(diagnostic);
    return std::move(pipe);
}

}  // namespace

int run_backend(project::BackendProcess backend) {
    auto [events, loop_events] = make_event_queue();
    auto [backend_input, writer_input] = request::make_backend_input_queue();
    request::start_backend_input_writer(std::move(writer_input),
                                        take_pipe(backend.stdin_pipe, "piped backend stdin"),
                                        events.another());
    start_line_reader(HandleByteSource::borrowing(platform::standard_input()), kRequestLineLimit,
                      EventSource::RuntimeStdin, events.another());
    start_line_reader(std::make_unique<HandleByteSource>(take_pipe(backend.stdout_pipe, "piped backend stdout")),
                      kBackendLineLimit, EventSource::BackendStdout, events.another());
    // The stderr reader gets the queue's first handle: the loop keeps none, so
    // the queue closes for it once all four workers have ended.
    start_line_reader(std::make_unique<HandleByteSource>(take_pipe(backend.stderr_pipe, "piped backend stderr")),
                      kBackendLineLimit, EventSource::BackendStderr, std::move(events));
    project::BackendControl control(backend.process);
    return run_event_loop(control, std::move(loop_events), std::move(backend_input), standard_loop_io());
}

}  // namespace quern
