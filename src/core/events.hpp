#pragma once

#include <cstdint>
#include <string>

namespace quern {

// Which worker thread sent an event.
enum class EventSource : std::uint8_t {
    RuntimeStdin = 0,
    BackendStdout = 1,
    BackendStderr = 2,
    BackendInputWriter = 3,
};

// What happened on a stream.
enum class LineEventKind : std::uint8_t {
    Line = 0,         // one complete line; text holds it without trailing CR/LF
    Oversized = 1,    // a line over the reader's limit was read and thrown away
    InvalidUtf8 = 2,  // a line that is not UTF-8 was read and thrown away
    Closed = 3,       // end of stream; the reader stops after sending it
    Failed = 4,       // read (or, from the writer, write) error; text holds the OS error text
};

// The element of the event queue.
struct RuntimeEvent {
    LineEventKind kind = LineEventKind::Closed;
    std::string text;  // for Line and Failed; empty otherwise
    EventSource source = EventSource::RuntimeStdin;
};

}  // namespace quern
