#pragma once

#include <chrono>

#include "io/events.hpp"
#include "loop/state.hpp"
#include "project/backend_control.hpp"

namespace quern::loop {

// The longest the loop waits for an event before it looks at the backend while
// a deadline or the drain window runs.
inline constexpr std::chrono::milliseconds kLoopWait{50};
// The same otherwise: everything the loop must act on then arrives as an event
// (the backend's exit too, from the exit watcher), so this is only a backstop.
inline constexpr std::chrono::milliseconds kIdleWait{1000};

// Runs the central event loop until the supervision step says leave, then the
// exit path; returns the runtime's exit status, 0 or 1.
int run_event_loop(project::ProcessControl& backend, io::EventReceiver events,
                   io::BackendInputSender backend_input, const LoopIo& io);

// The real LoopIo: the stdout record writer, the stderr writer, the steady clock.
LoopIo standard_loop_io();

}  // namespace quern::loop
