#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "core/clock.hpp"
#include "request/backend_input_queue.hpp"
#include "request/pending_requests.hpp"

namespace quern {

// How long the backend has to go after it was asked to stop.
inline constexpr std::chrono::seconds kShutdownGracePeriod{75};

// Everything the event loop owns and changes; no other thread touches it.
struct LoopState {
    request::PendingRequests pending;
    // Set once shutdown begins ("shutting down"); never cleared or moved.
    std::optional<TimePoint> shutdown_deadline;
    // Why the run ends unclean; a later failure replaces an earlier one.
    std::optional<std::string> failure_message;
    // False for good after the first failed record write.
    bool frontend_output_healthy = true;
    bool backend_stdout_closed = false;
    // The backend's stderr has ended too: a crashing backend's last words (its
    // traceback) are relayed before the runtime leaves.
    bool backend_stderr_closed = false;
    // When the loop first saw the backend gone, and its exit code if readable.
    std::optional<TimePoint> backend_exit;
    std::optional<std::uint32_t> exit_code;

    bool shutting_down() const { return shutdown_deadline.has_value(); }
};

// Asks the backend to stop, once: offers the runtime shutdown record without
// waiting (dropped silently when the queue is full or closed) and arms the
// deadline. Every later call does nothing.
void begin_shutdown(LoopState& state, request::BackendInputSender& backend_input, TimePoint now);

}  // namespace quern
