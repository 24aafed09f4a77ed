#pragma once

#include <chrono>
#include <string>

#include "core/event_queue.hpp"
#include "core/loop_state.hpp"
#include "output/record_sink.hpp"
#include "project/process_control.hpp"

namespace quern {

// How long the backend's output may still drain after its exit was seen; the
// loop leaves once strictly more than this has passed.
inline constexpr std::chrono::seconds kDrainWindow{1};

enum class Supervision { GoOn, Leave };

// Run after every wait of the loop. Leaves when the backend has exited and
// both its output streams have ended, when the drain window after its exit
// has passed, when it can no longer be polled (after ending its tree; a
// failure), or when the shutdown deadline has been reached (after ending its
// tree). A failed record write begins the shutdown here.
Supervision supervise(LoopState& state, ProcessControl& backend,
                      request::BackendInputSender& backend_input, TimePoint now);

// "Python backend exited", with " (exit code: N)" when the code is known (in
// 0x-hex when bit 31 is set), unless a failure message says otherwise.
std::string exit_message(const LoopState& state);

// Runs once when the loop leaves: closes the backend input queue, answers
// every pending request in ascending key order (a shutdown request with a
// shutdown response when the stop is clean), writes a fatal record when it is
// not, and returns the exit status: 0 for a clean stop, 1 otherwise. Write
// failures are ignored here.
int run_exit_path(LoopState& state, request::BackendInputSender& backend_input, EventConsumer& events,
                  const output::RecordSink& emit);

}  // namespace quern
