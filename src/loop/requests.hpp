#pragma once

#include "io/events.hpp"
#include "loop/state.hpp"
#include "protocol/request.hpp"

namespace quern::loop {

// Every event from the runtime's stdin reader: a line is validated and either
// refused with one error response or handed to the backend; a line the reader
// could not deliver (too long, not UTF-8) is refused with a null id; the end of
// the stream (or a read failure) begins the shutdown.
void handle_request_event(Loop& loop, const io::StreamLine& event);

// Hands an accepted request to the backend, or refuses it with one error
// response carrying its id: "Runtime is shutting down", "Request id is already
// pending", or "Cannot queue backend request: " and the channel's reason. A
// queued request is registered as pending; a queued shutdown command also arms
// the shutdown deadline (the backend already has a shutdown request, so the
// runtime sends none of its own). A refused shutdown on a full channel begins
// the runtime's own shutdown; a closed channel means the writer has stopped,
// which is a failure.
void enqueue_request(Loop& loop, protocol::AcceptedRequest request);

// Every event from the backend input writer: a failed write before the
// shutdown is a failure and begins it; once shutting down, the backend closing
// its input is expected.
void handle_writer_event(Loop& loop, const io::StreamLine& event);

}  // namespace quern::loop
