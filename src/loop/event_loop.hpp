#pragma once


#include "io/events.hpp"
#include "loop/state.hpp"
#include "project/backend_control.hpp"

namespace quern::loop {

// Runs the central event loop until the supervision step says leave, then the
// exit path; returns the runtime's exit status, 0 or 1.
int run_event_loop(project::ProcessControl& backend, io::EventReceiver events,
                   io::BackendInputSender backend_input, const LoopIo& io);

// The real LoopIo: the stdout record writer, the stderr writer, the steady clock.
LoopIo standard_loop_io();

}  // namespace quern::loop
