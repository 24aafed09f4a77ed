#pragma once

#include "core/loop_state.hpp"
#include "output/record_sink.hpp"
#include "request/backend_input_queue.hpp"
#include "request/request_envelope.hpp"

namespace quern::request {

// Hands an accepted request to the backend, or refuses it with one error
// response carrying its id: "Runtime is shutting down", "Request id is already
// pending", or "Cannot queue backend request: " and the queue's reason. A
// queued request is registered as pending; a queued shutdown command also arms
// the shutdown deadline (the backend already has a shutdown request, so the
// runtime sends none of its own). A refused shutdown on a full queue begins the
// runtime's own shutdown; a closed queue means the writer has stopped, which
// is a failure.
void enqueue_request(RequestEnvelope envelope, LoopState& state, BackendInputSender& backend_input,
                     const output::RecordSink& emit, TimePoint now);

}  // namespace quern::request
