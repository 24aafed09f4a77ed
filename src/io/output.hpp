#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "json/value.hpp"

namespace quern::io {

// Writes records as lines: the compact text and one "\n", handed to the sink in
// a single call so that a record reaches the OS whole and at once. The text is
// built in a buffer the writer keeps, so steady traffic allocates nothing.
class RecordWriter {
public:
    // The sink writes all of the bytes or reports false.
    using Sink = std::function<bool(std::string_view)>;

    explicit RecordWriter(Sink sink) : sink_(std::move(sink)) {}

    // True when the whole line was written. A failure is only reported: what
    // was written stays written and nothing is retried.
    bool write(const json::Value& record);

private:
    std::recursive_mutex mutex_;
    std::string buffer_;
    Sink sink_;
};

// Writes one record to the runtime's standard output, the only way anything
// reaches it. Reports a failed write (e.g. the front end closed the pipe).
bool emit_record(const json::Value& record);

// Writes one line, the text and a line feed, to the runtime's standard error
// in one piece under the standard error lock, so a relayed line never
// interleaves with a note. A failed write is ignored: nothing the runtime does
// depends on its diagnostics being read.
void write_stderr_line(std::string_view text);

}  // namespace quern::io
