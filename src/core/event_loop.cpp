#include "core/event_loop.hpp"

#include <thread>

#include "output/record_writer.hpp"
#include "output/stderr_writer.hpp"
#include "project/supervision.hpp"
#include "request/enqueue_request.hpp"
#include "request/request_envelope.hpp"

namespace quern {

namespace {

class Loop {
public:
    Loop(ProcessControl& backend, request::BackendInputSender& backend_input, const LoopIo& io)
        : backend_(backend), backend_input_(backend_input), io_(io) {}

    void dispatch(const RuntimeEvent& event) {
        switch (event.source) {
            case EventSource::RuntimeStdin: return on_request_stream(event);
            case EventSource::BackendStdout:
                return output::handle_backend_stdout_event(event, state_, backend_input_, io_.emit,
                                                           io_.note, io_.now());
            case EventSource::BackendStderr:
                return output::handle_backend_stderr_event(event, state_, io_.note);
            case EventSource::BackendInputWriter: return on_writer_failure(event);
        }
    }

    void on_queue_closed() { begin_shutdown(state_, backend_input_, io_.now()); }

    Supervision supervise_backend() { return supervise(state_, backend_, backend_input_, io_.now()); }

    int exit(EventConsumer& events) { return run_exit_path(state_, backend_input_, events, io_.emit); }

private:
    void on_request_stream(const RuntimeEvent& event) {
        bool& healthy = state_.frontend_output_healthy;
        switch (event.kind) {
            case LineEventKind::Line:
                if (auto envelope = request::handle_request_line(event.text, io_.emit, healthy)) {
                    request::enqueue_request(std::move(*envelope), state_, backend_input_, io_.emit,
                                             io_.now());
                }
                return;
            case LineEventKind::Oversized:
                return request::answer_unreadable_request(request::kOversizedRequest, io_.emit, healthy);
            case LineEventKind::InvalidUtf8:
                return request::answer_unreadable_request(request::kInvalidUtf8Request, io_.emit, healthy);
            case LineEventKind::Closed:
            case LineEventKind::Failed:  // the front end is gone either way; the text is dropped
                return begin_shutdown(state_, backend_input_, io_.now());
        }
    }

    void on_writer_failure(const RuntimeEvent& event) {
        // Once shutting down, the backend closing its input is expected.
        if (event.kind != LineEventKind::Failed || state_.shutting_down()) return;
        state_.failure_message = "Backend input failed: " + event.text;
        begin_shutdown(state_, backend_input_, io_.now());
    }

    ProcessControl& backend_;
    request::BackendInputSender& backend_input_;
    const LoopIo& io_;
    LoopState state_;
};

}  // namespace

int run_event_loop(ProcessControl& backend, EventConsumer events,
                   request::BackendInputSender backend_input, const LoopIo& io) {
    Loop loop(backend, backend_input, io);
    RuntimeEvent event;
    for (;;) {
        switch (events.wait_for(kLoopWait, event)) {
            case EventConsumer::Wait::Event: loop.dispatch(event); break;
            case EventConsumer::Wait::TimedOut: break;
            case EventConsumer::Wait::Closed:
                loop.on_queue_closed();
                // Nothing can arrive any more; pace the supervision passes
                // instead of spinning until one of them says leave.
                io.sleep(kLoopWait);
                break;
        }
        if (loop.supervise_backend() == Supervision::Leave) return loop.exit(events);
    }
}

LoopIo standard_loop_io() {
    return LoopIo{output::emit_record, output::write_stderr_line, [] { return Clock::now(); },
                  [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }};
}

}  // namespace quern
