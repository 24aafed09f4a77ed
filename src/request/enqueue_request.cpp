#include "request/enqueue_request.hpp"

#include <string>

#include "output/records.hpp"
#include "request/forwarded_request.hpp"

namespace quern::request {

namespace {

void refuse(const json::Value& id, std::string_view message, LoopState& state,
            const output::RecordSink& emit) {
    const bool written = emit(output::error_response(id, message));
    state.frontend_output_healthy = state.frontend_output_healthy && written;
}

}  // namespace

void enqueue_request(RequestEnvelope envelope, LoopState& state, BackendInputSender& backend_input,
                     const output::RecordSink& emit, TimePoint now) {
    // The id is small and outlives the envelope, whose payload moves to the backend.
    const json::Value id = envelope.id;
    std::string key = request_key(id);
    if (state.shutting_down()) return refuse(id, "Runtime is shutting down", state, emit);
    if (state.pending.contains(key)) return refuse(id, "Request id is already pending", state, emit);
    const bool is_shutdown = envelope.command == "shutdown";
    const Offer offer = backend_input.offer(forwarded_request(std::move(envelope)));
    if (offer == Offer::Queued) {
        state.pending.insert(std::move(key), PendingEntry{id, is_shutdown});
        if (is_shutdown) state.shutdown_deadline = now + kShutdownGracePeriod;
        return;
    }
    const std::string message = "Cannot queue backend request: " + std::string(offer_refusal_text(offer));
    refuse(id, message, state, emit);
    if (offer == Offer::Closed) {
        state.failure_message = "Backend input writer stopped";
        begin_shutdown(state, backend_input, now);
    } else if (is_shutdown) {
        begin_shutdown(state, backend_input, now);
    }
}

}  // namespace quern::request
