#include "loop/backend_output.hpp"

#include <string>

#include "io/backend_records.hpp"
#include "protocol/records.hpp"

namespace quern::loop {

namespace {

void relay_record(Loop& loop, std::string_view text) {
    const io::RecordText record = io::split_record_text(text);
    // Settled before the write: a response whose write fails has still been answered.
    if (!record.answered_key.empty()) loop.state.pending.remove(record.answered_key);
    loop.write_record_text(record.record);
}

// A line its reader left to the loop.
void relay_backend_stdout_line(Loop& loop, std::string_view line) {
    loop.record_text.clear();
    if (io::shape_backend_record(loop.relay, line, loop.record_text) == io::LineEventKind::NotARecord) {
        loop.io.note(protocol::kNonProtocolNote);
        return;
    }
    relay_record(loop, loop.record_text);
}

}  // namespace

void handle_backend_stdout_event(Loop& loop, const io::StreamLine& event) {
    switch (event.kind) {
        case io::LineEventKind::Record: return relay_record(loop, event.text);
        case io::LineEventKind::NotARecord: return loop.io.note(protocol::kNonProtocolNote);
        case io::LineEventKind::Line: return relay_backend_stdout_line(loop, event.text);
        case io::LineEventKind::Oversized:
        case io::LineEventKind::InvalidUtf8: return loop.io.note(protocol::kInvalidRecordNote);
        case io::LineEventKind::Closed: loop.state.backend_stdout_closed = true; return;
        case io::LineEventKind::Failed:
            loop.fail("Backend stdout failed: " + std::string(event.text));
            loop.state.backend_stdout_closed = true;
            return;
    }
}

void handle_backend_stderr_event(Loop& loop, const io::StreamLine& event) {
    switch (event.kind) {
        case io::LineEventKind::Line: return loop.io.note(event.text);
        case io::LineEventKind::Oversized: return loop.io.note(protocol::kOversizedStderrNote);
        case io::LineEventKind::InvalidUtf8: return loop.io.note(protocol::kInvalidUtf8StderrNote);
        case io::LineEventKind::Closed: loop.state.backend_stderr_closed = true; return;
        case io::LineEventKind::Failed:
            loop.io.note(std::string(protocol::kStderrReadFailedNote).append(event.text));
            loop.state.backend_stderr_closed = true;
            return;
        case io::LineEventKind::Record:
        case io::LineEventKind::NotARecord: return;  // only stdout lines are shaped
    }
}

}  // namespace quern::loop
