#include "loop/supervision.hpp"

#include "base/exit_status.hpp"
#include "loop/timings.hpp"
#include "platform/os_error.hpp"
#include "protocol/records.hpp"

namespace quern::loop {

namespace {

using platform::ExitPoll;

bool output_drained(const LoopState& state) {
    return state.backend_stdout_closed && state.backend_stderr_closed;
}

Supervision enforce_deadline(Loop& loop, base::TimePoint now) {
    LoopState& state = loop.state;
    if (!state.shutdown_deadline || now < *state.shutdown_deadline) return Supervision::GoOn;
    loop.backend.end_tree_by_force();
    ExitPoll after = loop.backend.poll();
    if (after.state == ExitPoll::State::Exited) {
        state.exit_code = after.exit_code;
    } else {
        state.exit_code.reset();
    }
    return Supervision::Leave;
}

}  // namespace

Supervision supervise(Loop& loop) {
    LoopState& state = loop.state;
    if (state.interrupted()) return Supervision::Leave;
    const base::TimePoint now = loop.io.now();
    if (!state.frontend_output_healthy) loop.begin_shutdown();
    if (state.backend_exit) {
        if (output_drained(state) || now - *state.backend_exit > kDrainWindow) return Supervision::Leave;
        return enforce_deadline(loop, now);
    }
    ExitPoll poll = loop.backend.poll();
    if (poll.state == ExitPoll::State::Failed) {
        loop.fail_ending_tree("Failed to supervise backend: " + platform::os_error_text(poll.error));
        return Supervision::Leave;
    }
    if (poll.state == ExitPoll::State::Exited) {
        state.exit_code = poll.exit_code;
        state.backend_exit = now;
        if (output_drained(state)) return Supervision::Leave;
    }
    return enforce_deadline(loop, now);
}

std::string exit_message(const LoopState& state) {
    if (state.failure_message) return *state.failure_message;
    return protocol::backend_exited_message(state.exit_code);
}

int run_exit_path(Loop& loop, io::EventReceiver& events) {
    LoopState& state = loop.state;
    loop.backend.end_tree_leftovers();
    loop.backend_input.release();
    const bool clean = !state.failure_message && state.shutting_down();
    const std::string message = exit_message(state);
    state.pending.drain([&](PendingEntry entry) {
        if (clean && entry.is_shutdown) {
            loop.write_record(protocol::shutdown_response(std::move(entry.id)));
        } else {
            loop.write_record(protocol::error_response(std::move(entry.id), message));
        }
    });
    if (!clean) loop.write_record(protocol::fatal_record(message));
    loop.flush_records();
    events.close();
    return clean ? base::kExitClean : base::kExitUnclean;
}

}  // namespace quern::loop
