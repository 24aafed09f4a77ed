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
    auto outcome = loop.intake.check(line);
    if (auto* accepted = std::get_if<protocol::AcceptedRequest>(&outcome)) {
        return enqueue_request(loop, std::move(*accepted));
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

void enqueue_request(Loop& loop, protocol::AcceptedRequest request) {
    LoopState& state = loop.state;
    // Refusals are rare: their id is made again from the key only for them.
    if (state.shutting_down()) return refuse(loop, protocol::id_of_key(request.key), "Runtime is shutting down");
    // Registered before the send, which is undone if it fails: one look-up
    // for the common case instead of two.
    if (!state.pending.insert(request.key, request.is_shutdown)) {
        return refuse(loop, protocol::id_of_key(request.key), "Request id is already pending");
    }
    const bool is_shutdown = request.is_shutdown;
    const base::SendResult sent = loop.backend_input.send(std::move(request.text));
    if (sent == base::SendResult::Sent) {
        if (is_shutdown) state.shutdown_deadline = loop.io.now() + kShutdownGracePeriod;
        return;
    }
    state.pending.remove(request.key);
    refuse(loop, protocol::id_of_key(request.key),
           "Cannot queue backend request: " + std::string(channel_refusal_text(sent)));
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
