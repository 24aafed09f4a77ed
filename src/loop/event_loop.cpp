#include "loop/event_loop.hpp"

#include <deque>
#include <thread>

#include "io/output.hpp"
#include "loop/backend_output.hpp"
#include "loop/requests.hpp"
#include "loop/supervision.hpp"
#include "loop/termination.hpp"
#include "loop/timings.hpp"

namespace quern::loop {

namespace {

void dispatch(Loop& loop, const io::RuntimeEvent& event) {
    const auto lines_to = [&](void (*handle)(Loop&, const io::StreamLine&)) {
        event.for_each([&](const io::StreamLine& line) { handle(loop, line); });
    };
    switch (event.source()) {
        case io::EventSource::RuntimeStdin: return lines_to(handle_request_event);
        case io::EventSource::BackendStdout:
            return event.for_each([&](const io::StreamLine& line) { handle_backend_stdout_event(loop, line); },
                                  [&](const io::ShapedLine& line) { handle_backend_record(loop, line); });
        case io::EventSource::BackendStderr: return lines_to(handle_backend_stderr_event);
        case io::EventSource::BackendInputWriter: return lines_to(handle_writer_event);
        case io::EventSource::TerminationRequest: return handle_termination_request(loop);
        case io::EventSource::BackendExit: return;  // the supervision step after the batch sees it
    }
}

std::chrono::milliseconds next_wait(const LoopState& state) {
    return state.shutting_down() || state.backend_exit ? kLoopWait : kIdleWait;
}

}  // namespace

int run_event_loop(project::ProcessControl& backend, io::EventReceiver events,
                   io::BackendInputSender backend_input, const LoopIo& io) {
    Loop loop{LoopState{}, backend_input, backend, io};
    std::deque<io::RuntimeEvent> batch;
    bool busy = false;
    for (;;) {
        // Everything ready is taken at once: one wake-up, one write of the
        // records it makes and one look at the backend for a whole batch.
        const auto spin = busy ? kBusySpin : std::chrono::microseconds(0);
        busy = false;
        switch (events.receive_all_for(next_wait(loop.state), batch, spin)) {
            case io::EventReceiver::Wait::Value:
                busy = true;
                for (io::RuntimeEvent& event : batch) {
                    dispatch(loop, event);
                    // Done with it now, not with the rest of the batch, so a
                    // batch and the reader's next backlog never add up.
                    event.finish();
                }
                batch.clear();
                break;
            case io::EventReceiver::Wait::TimedOut: break;
            case io::EventReceiver::Wait::Closed:
                loop.begin_shutdown();
                // Nothing can arrive any more; pace the supervision passes
                // instead of spinning until one of them says leave.
                io.sleep(kLoopWait);
                break;
        }
        // No record is held back while the loop waits or ends the backend.
        loop.flush_records();
        if (supervise(loop) == Supervision::Leave) return run_exit_path(loop, events);
    }
}

LoopIo standard_loop_io() {
    return LoopIo{io::buffer_record_text, io::write_stderr_line, [] { return base::Clock::now(); },
                  [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }, io::flush_records};
}

}  // namespace quern::loop
