#pragma once

#include "core/event_queue.hpp"
#include "platform/handle.hpp"
#include "request/backend_input_queue.hpp"

namespace quern::request {

// The writer thread's body: writes each queued value to the backend's standard
// input as compact JSON and a line feed, in queue order. On the first failed
// write it sends one Failed event (tagged BackendInputWriter) with the OS error
// text, or "failed to write whole buffer" when the pipe took no bytes. When it
// stops (failure, or the sender let go and the queue is empty) it closes its
// queue end first, so later offers find it closed, then the pipe, so the
// backend sees the end of its input.
void run_backend_input_writer(BackendInputReceiver input, platform::OwnedHandle pipe,
                              EventProducer events);

// Runs run_backend_input_writer on a new detached worker thread.
void start_backend_input_writer(BackendInputReceiver input, platform::OwnedHandle pipe,
                                EventProducer events);

}  // namespace quern::request
