#pragma once

#include <functional>
#include <string_view>

#include "core/events.hpp"
#include "core/loop_state.hpp"
#include "output/record_sink.hpp"

namespace quern::output {

// Writes one line of diagnostics (a note or a relayed backend line) to stderr.
using LineSink = std::function<void(std::string_view)>;

inline constexpr std::string_view kNonProtocolNote = "[quern-runtime] Ignored non-protocol backend stdout";
inline constexpr std::string_view kInvalidRecordNote = "[quern-runtime] Ignored invalid backend stdout record";
inline constexpr std::string_view kOversizedStderrNote = "[quern-runtime] Oversized backend stderr line discarded";
inline constexpr std::string_view kInvalidUtf8StderrNote = "[quern-runtime] Invalid UTF-8 backend stderr line discarded";
inline constexpr std::string_view kStderrReadFailedNote = "[quern-runtime] Backend stderr read failed: ";

// One line of the backend's stdout: a protocol record (a JSON object with a
// string "type") is re-written canonically to the front end; a response
// record first settles the pending request of its id. Anything else costs a
// note and is dropped.
void relay_backend_stdout_line(std::string_view line, LoopState& state, const RecordSink& emit,
                               const LineSink& note);

// Every event from the backend's stdout reader.
void handle_backend_stdout_event(const RuntimeEvent& event, LoopState& state,
                                 request::BackendInputSender& backend_input, const RecordSink& emit,
                                 const LineSink& note, TimePoint now);

// Every event from the backend's stderr reader: lines pass through unchanged
// but for their line ending; trouble is replaced by a note. Only the end of the
// stream (or a read failure) changes loop state: the stream is done.
void handle_backend_stderr_event(const RuntimeEvent& event, LoopState& state, const LineSink& note);

}  // namespace quern::output
