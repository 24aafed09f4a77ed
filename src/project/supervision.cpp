#include "project/supervision.hpp"

#include <array>
#include <charconv>

#include "output/records.hpp"

namespace quern {

namespace {

constexpr int kCleanStop = 0;
constexpr int kUncleanStop = 1;

bool output_drained(const LoopState& state) {
    return state.backend_stdout_closed && state.backend_stderr_closed;
}

Supervision enforce_deadline(LoopState& state, ProcessControl& backend, TimePoint now) {
    if (!state.shutdown_deadline || now < *state.shutdown_deadline) return Supervision::GoOn;
    backend.terminate_tree();
    ProcessPoll after = backend.poll();
    if (after.state == ProcessPoll::State::Exited) {
        state.exit_code = after.exit_code;
    } else {
        state.exit_code.reset();
    }
    return Supervision::Leave;
}

std::string exit_status_text(std::uint32_t code) {
    std::array<char, 16> digits;
    const bool high_bit = (code & 0x80000000u) != 0;
    auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), code, high_bit ? 16 : 10);
    (void)ec;
    return std::string("exit code: ") + (high_bit ? "0x" : "") + std::string(digits.data(), end);
}

}  // namespace

Supervision supervise(LoopState& state, ProcessControl& backend,
                      request::BackendInputSender& backend_input, TimePoint now) {
    if (!state.frontend_output_healthy) begin_shutdown(state, backend_input, now);
    if (state.backend_exit) {
        if (output_drained(state)) return Supervision::Leave;
        if (now - *state.backend_exit > kDrainWindow) return Supervision::Leave;
        return enforce_deadline(state, backend, now);
    }
    ProcessPoll poll = backend.poll();
    if (poll.state == ProcessPoll::State::Failed) {
        state.failure_message = "Failed to supervise backend: " + poll.error_text;
        backend.terminate_tree();
        return Supervision::Leave;
    }
    if (poll.state == ProcessPoll::State::Exited) {
        state.exit_code = poll.exit_code;
        state.backend_exit = now;
        if (output_drained(state)) return Supervision::Leave;
    }
    return enforce_deadline(state, backend, now);
}

std::string exit_message(const LoopState& state) {
    if (state.failure_message) return *state.failure_message;
    std::string message = "Python backend exited";
    if (state.exit_code) message += " (" + exit_status_text(*state.exit_code) + ")";
    return message;
}

int run_exit_path(LoopState& state, request::BackendInputSender& backend_input, EventConsumer& events,
                  const output::RecordSink& emit) {
    backend_input.close();
    const bool clean = !state.failure_message && state.shutting_down();
    const std::string message = exit_message(state);
    for (request::PendingEntry& entry : state.pending.drain()) {
        if (clean && entry.is_shutdown) {
            (void)emit(output::shutdown_response(std::move(entry.id)));
        } else {
            (void)emit(output::error_response(std::move(entry.id), message));
        }
    }
    if (!clean) (void)emit(output::fatal_record(message));
    events.release();
    return clean ? kCleanStop : kUncleanStop;
}

}  // namespace quern
