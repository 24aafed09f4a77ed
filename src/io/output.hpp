#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "json/value.hpp"

namespace quern::io {

// Writes records as lines: the compact text and one "\n". Lines are handed to
// the sink whole, one or many in a single call, so a record reaches the OS
// whole and several ready ones cost one write. The text is built in a buffer
// the writer keeps, so steady traffic allocates nothing. A failure is only
// reported: what was written stays written and nothing is retried.
class RecordWriter {
public:
    // The sink writes all of the bytes or reports false.
    using Sink = std::function<bool(std::string_view)>;

    // Pending bytes past which append writes them out at once.
    static constexpr std::size_t kFlushBytes = 65536;

    explicit RecordWriter(Sink sink) : sink_(std::move(sink)) {}

    // Adds the record's line to the pending bytes, and writes them when they
    // pass kFlushBytes; false when that write failed.
    bool append(const json::Value& record);
    // The same for a record's compact text.
    bool append_text(std::string_view record_text);
    // Writes the pending bytes in one call; false when not all of them could be.
    bool flush();
    // append, then flush.
    bool write(const json::Value& record);

private:
    bool flush_locked();

    std::recursive_mutex mutex_;
    std::string buffer_;
    Sink sink_;
};

// The runtime's standard output, the only way anything reaches it. A failed
// write (e.g. the front end closed the pipe) is reported.
// emit_record writes at once; buffer_record_text leaves the line pending until
// flush_records or until enough is pending (the event loop flushes before it
// ever waits, so no record is held back).
bool emit_record(const json::Value& record);
bool buffer_record_text(std::string_view record_text);
bool flush_records();

// Writes one line, the text and a line feed, to the runtime's standard error
// in one piece under the standard error lock, so a relayed line never
// interleaves with a note. A failed write is ignored: nothing the runtime does
// depends on its diagnostics being read.
void write_stderr_line(std::string_view text);

}  // namespace quern::io
