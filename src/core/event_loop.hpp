#pragma once

#include <chrono>
#include <functional>

#include "core/clock.hpp"
#include "core/event_queue.hpp"
#include "output/backend_relays.hpp"
#include "output/record_sink.hpp"
#include "project/process_control.hpp"
#include "request/backend_input_queue.hpp"

namespace quern {

// The longest the loop waits for an event before it looks at the backend.
inline constexpr std::chrono::milliseconds kLoopWait{50};

// The loop's ways out to the world: stdout records, stderr lines, the clock
// and sleeping. The runtime uses the real ones; tests record and script them.
struct LoopIo {
    output::RecordSink emit;
    output::LineSink note;
    std::function<TimePoint()> now;
    std::function<void(std::chrono::milliseconds)> sleep;
};

// Runs the central event loop until the supervision step says leave, then the
// exit path; returns the runtime's exit status, 0 or 1.
int run_event_loop(ProcessControl& backend, EventConsumer events,
                   request::BackendInputSender backend_input, const LoopIo& io);

// The real LoopIo: emit_record, the stderr writer, the steady clock.
LoopIo standard_loop_io();

}  // namespace quern
