#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/byte_budget.hpp"
#include "base/channel.hpp"
#include "json/value.hpp"

namespace quern::io {

// Which worker thread sent an event.
enum class EventSource : std::uint8_t {
    RuntimeStdin = 0,
    BackendStdout = 1,
    BackendStderr = 2,
    BackendInputWriter = 3,
    // The OS asked the runtime to end (SIGTERM, Ctrl+C, ...): one event of
    // kind Line without text per request.
    TerminationRequest = 4,
    // The backend process has exited (or can no longer be waited for): one
    // event of kind Line without text, so the loop looks at once.
    BackendExit = 5,
};

// What happened on a stream.
enum class LineEventKind : std::uint8_t {
    Line = 0,         // one complete line; text holds it without trailing CR/LF
    Oversized = 1,    // a line over the reader's limit was read and thrown away
    InvalidUtf8 = 2,  // a line that is not UTF-8 was read and thrown away
    Closed = 3,       // end of stream; the reader stops after sending it
    Failed = 4,       // read (or, from the writer, write) error; text holds the OS error text
};

// What the workers tell the event loop.
// Move-only: a reader's event holds its place in the reader's backlog until
// the loop is done with it.
struct RuntimeEvent {
    RuntimeEvent() = default;
    RuntimeEvent(LineEventKind kind_, std::string text_, EventSource source_, base::BudgetLease backlog_ = {})
        : kind(kind_), text(std::move(text_)), source(source_), backlog(std::move(backlog_)) {}

    LineEventKind kind = LineEventKind::Closed;
    std::string text;  // for Line and Failed; empty otherwise
    EventSource source = EventSource::RuntimeStdin;
    base::BudgetLease backlog;
};

// The workers' channel to the loop: unbounded, one sender handle per worker.
// It closes for the loop once every worker has let go of its handle.
using EventSender = base::Sender<RuntimeEvent>;
using EventReceiver = base::Receiver<RuntimeEvent>;

// The loop's channel to the backend input writer: the values it writes to the
// backend's standard input, in order.
inline constexpr std::size_t kBackendInputCapacity = 32;
using BackendInputSender = base::Sender<json::Value>;
using BackendInputReceiver = base::Receiver<json::Value>;

}  // namespace quern::io
