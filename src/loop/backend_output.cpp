#include "loop/backend_output.hpp"

#include <string>

#include "json/parse.hpp"
#include "protocol/records.hpp"
#include "protocol/request.hpp"

namespace quern::loop {

namespace {

void settle_response(const json::Object& record, LoopState& state) {
    if (record.find("type")->as_string() != "response") return;
    if (const json::Value* id = record.find("id")) state.pending.remove(protocol::request_key(*id));
}

void relay_backend_stdout_line(Loop& loop, std::string_view line) {
    base::Result<json::Value> parsed = json::parse_json(line);
    if (!parsed.ok() || !protocol::is_protocol_record(parsed.value())) {
        loop.io.note(protocol::kNonProtocolNote);
        return;
    }
    // Settled before the write: a response whose write fails has still been answered.
    settle_response(parsed.value().as_object(), loop.state);
    loop.write_record(parsed.value());
}

}  // namespace

void handle_backend_stdout_event(Loop& loop, const io::RuntimeEvent& event) {
    switch (event.kind) {
        case io::LineEventKind::Line: return relay_backend_stdout_line(loop, event.text);
        case io::LineEventKind::Oversized:
        case io::LineEventKind::InvalidUtf8: return loop.io.note(protocol::kInvalidRecordNote);
        case io::LineEventKind::Closed: loop.state.backend_stdout_closed = true; return;
        case io::LineEventKind::Failed:
            loop.state.failure_message = "Backend stdout failed: " + event.text;
            loop.begin_shutdown();
            loop.state.backend_stdout_closed = true;
            return;
    }
}

void handle_backend_stderr_event(Loop& loop, const io::RuntimeEvent& event) {
    switch (event.kind) {
        case io::LineEventKind::Line: return loop.io.note(event.text);
        case io::LineEventKind::Oversized: return loop.io.note(protocol::kOversizedStderrNote);
        case io::LineEventKind::InvalidUtf8: return loop.io.note(protocol::kInvalidUtf8StderrNote);
        case io::LineEventKind::Closed: loop.state.backend_stderr_closed = true; return;
        case io::LineEventKind::Failed:
            loop.io.note(std::string(protocol::kStderrReadFailedNote) + event.text);
            loop.state.backend_stderr_closed = true;
            return;
    }
}

}  // namespace quern::loop
