#pragma once

#include <string>

#include "io/events.hpp"
#include "loop/state.hpp"

namespace quern::loop {

enum class Supervision { GoOn, Leave };

// Run after every wait of the loop. Leaves when the runtime was interrupted
// (its second termination request has ended the backend's tree), when the
// backend has exited and both its output streams have ended, when the drain
// window after its exit has passed, when it can no longer be polled (after
// ending its tree; a failure), or when the shutdown deadline has been reached
// (after ending its tree). A failed record write begins the shutdown here.
Supervision supervise(Loop& loop);

// The failure message when there is one, else "Python backend exited" with
// the exit code when it is known.
std::string exit_message(const LoopState& state);

// Runs once when the loop leaves: ends what is left of the backend's tree (a
// child the backend left behind does not outlive the runtime), closes the
// backend input channel, answers every pending request in ascending key order
// (a shutdown request with a shutdown response when the stop is clean), writes
// a fatal record when it is not, and returns the exit status: 0 for a clean
// stop, 1 otherwise. Write failures are ignored here.
int run_exit_path(Loop& loop, io::EventReceiver& events);

}  // namespace quern::loop
