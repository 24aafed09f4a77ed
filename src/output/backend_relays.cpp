#include "output/backend_relays.hpp"

#include <string>

#include "json/parse.hpp"
#include "request/pending_requests.hpp"

namespace quern::output {

namespace {

bool is_protocol_record(const json::Value& value) {
    if (!value.is_object()) return false;
    const json::Value* type = value.as_object().find("type");
    return type != nullptr && type->is_string();
}

void settle_response(const json::Object& record, LoopState& state) {
    if (record.find("type")->as_string() != "response") return;
    if (const json::Value* id = record.find("id")) state.pending.remove(request::request_key(*id));
}

}  // namespace

void relay_backend_stdout_line(std::string_view line, LoopState& state, const RecordSink& emit,
                               const LineSink& note) {
    Result<json::Value> parsed = json::parse_json(line);
    if (!parsed.ok() || !is_protocol_record(parsed.value())) {
        note(kNonProtocolNote);
        return;
    }
    // Settled before the write: a response whose write fails has still been answered.
    settle_response(parsed.value().as_object(), state);
    const bool written = emit(parsed.value());
    state.frontend_output_healthy = state.frontend_output_healthy && written;
}

void handle_backend_stdout_event(const RuntimeEvent& event, LoopState& state,
                                 request::BackendInputSender& backend_input, const RecordSink& emit,
                                 const LineSink& note, TimePoint now) {
    switch (event.kind) {
        case LineEventKind::Line: relay_backend_stdout_line(event.text, state, emit, note); return;
        case LineEventKind::Oversized:
        case LineEventKind::InvalidUtf8: note(kInvalidRecordNote); return;
        case LineEventKind::Closed: state.backend_stdout_closed = true; return;
        case LineEventKind::Failed:
            state.failure_message = "Backend stdout failed: " + event.text;
            begin_shutdown(state, backend_input, now);
            state.backend_stdout_closed = true;
            return;
    }
}

void handle_backend_stderr_event(const RuntimeEvent& event, LoopState& state, const LineSink& note) {
    switch (event.kind) {
        case LineEventKind::Line: note(event.text); return;
        case LineEventKind::Oversized: note(kOversizedStderrNote); return;
        case LineEventKind::InvalidUtf8: note(kInvalidUtf8StderrNote); return;
        case LineEventKind::Closed: state.backend_stderr_closed = true; return;
        case LineEventKind::Failed:
            note(std::string(kStderrReadFailedNote) + event.text);
            state.backend_stderr_closed = true;
            return;
    }
}

}  // namespace quern::output
