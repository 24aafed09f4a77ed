#include "loop/requests.hpp"

#include <string>
#include <variant>

#include "loop/timings.hpp"
#include "protocol/records.hpp"

namespace quern::loop {

namespace {

std::string_view channel_refusal_text(base::SendResult result) {
    return result == base::SendResult::Full ? "sending on a full channel" : "sending on a closed channel";
}

void refuse(Loop& loop, json::Value id, std::string_view message) {
    loop.write_record(protocol::error_response(std::move(id), message));
}

void on_request_line(Loop& loop, std::string_view line) {
    auto outcome = protocol::validate_request_line(line);
    if (auto* envelope = std::get_if<protocol::RequestEnvelope>(&outcome)) {
        return enqueue_request(loop, std::move(*envelope));
    }
    protocol::Refusal& refusal = std::get<protocol::Refusal>(outcome);
    refuse(loop, std::move(refusal.id), refusal.message);
}

}  // namespace

void handle_request_event(Loop& loop, const io::StreamLine& event) {
    switch (event.kind) {
        case io::LineEventKind::Line: return on_request_line(loop, event.text);
        case io::LineEventKind::Oversized: return refuse(loop, json::Value(), protocol::kOversizedRequest);
        case io::LineEventKind::InvalidUtf8: return refuse(loop, json::Value(), protocol::kInvalidUtf8Request);
        case io::LineEventKind::Closed:
        case io::LineEventKind::Failed:  // the front end is gone either way; the text is dropped
            return loop.begin_shutdown();
    }
}

void enqueue_request(Loop& loop, protocol::RequestEnvelope envelope) {
    LoopState& state = loop.state;
    // The id is small and outlives the envelope, whose payload moves to the backend.
    const json::Value id = envelope.id;
    std::string key = protocol::request_key(id);
    if (state.shutting_down()) return refuse(loop, id, "Runtime is shutting down");
    if (state.pending.contains(key)) return refuse(loop, id, "Request id is already pending");
    const bool is_shutdown = envelope.command == "shutdown";
    const base::SendResult sent = loop.backend_input.send(protocol::forwarded_request(std::move(envelope)));
    if (sent == base::SendResult::Sent) {
        state.pending.insert(std::move(key), PendingEntry{id, is_shutdown});
        if (is_shutdown) state.shutdown_deadline = loop.io.now() + kShutdownGracePeriod;
        return;
    }
    refuse(loop, id, "Cannot queue backend request: " + std::string(channel_refusal_text(sent)));
    if (sent == base::SendResult::Closed) {
        loop.fail("Backend input writer stopped");
    } else if (is_shutdown) {
        loop.begin_shutdown();
    }
}

void handle_writer_event(Loop& loop, const io::StreamLine& event) {
    if (event.kind != io::LineEventKind::Failed || loop.state.shutting_down()) return;
    loop.fail("Backend input failed: " + std::string(event.text));
}

}  // namespace quern::loop
