#include "loop/backend_output.hpp"

#include <string>

#include "protocol/records.hpp"

namespace quern::loop {

void handle_backend_record(Loop& loop, const io::ShapedLine& line) {
    if (!line.is_record) return loop.io.note(protocol::kNonProtocolNote);
    // Settled before the write: a response whose write fails has still been answered.
    if (!line.answered_key.empty()) loop.state.pending.remove(line.answered_key);
    loop.write_record_text(line.record);
}

void handle_backend_stdout_event(Loop& loop, const io::StreamLine& event) {
    switch (event.kind) {
        case io::LineEventKind::Line:
        {
            loop.record_text.clear();
            const io::Shaped shaped = loop.relay.relay(event.text, loop.record_text);
            return handle_backend_record(loop, io::shaped_line(loop.record_text, shaped));
        }
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
    }
}

}  // namespace quern::loop
