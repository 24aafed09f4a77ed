#pragma once

#include "io/events.hpp"
#include "loop/state.hpp"

namespace quern::loop {

// Every line of the backend's stdout reader. A line that is a protocol record
// is re-written canonically to the front end, a response record first settling
// the pending request of its id; any other line, and a line the reader could
// not deliver, costs a note and is dropped. A read failure is a failure and
// begins the shutdown; it and the end of the stream close the stream.
void handle_backend_stdout_event(Loop& loop, const io::StreamLine& event);
// The same for a line its reader has already made into a record, or found none.
void handle_backend_record(Loop& loop, const io::ShapedLine& line);

// Every event from the backend's stderr reader: lines pass through unchanged
// but for their line ending; trouble is replaced by a note. Only the end of the
// stream (or a read failure) changes loop state: the stream is done.
void handle_backend_stderr_event(Loop& loop, const io::StreamLine& event);

}  // namespace quern::loop
