#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "io/events.hpp"
#include "io/line_reader.hpp"
#include "platform/handle.hpp"
#include "platform/process.hpp"
#include "platform/this_process.hpp"

namespace quern::io {

// The worker threads around the event loop: three line readers (the
// runtime's stdin, the backend's stdout and stderr), the backend input writer,
// the termination watcher and the exit watcher. Each run_* is a thread's body;
// each start_* runs it on a new detached worker thread.

// How many bytes of lines one reader may have waiting for the loop. A reader
// whose backlog is full reads nothing more until the loop has caught up, so a
// front end that stops reading makes the backend's pipe push back instead of
// the runtime's memory growing. As much as the longest line (1 MiB): batches
// stay large, and the peak memory of a flood stays a few MiB.
inline constexpr std::size_t kReaderBacklogBytes = 1024 * 1024;
// Lines already read go to the loop in batches of up to this many bytes.
inline constexpr std::size_t kReaderBatchBytes = 64 * 1024;

// Reads lines from the source and sends each result as one event tagged with
// the source, until it has sent Closed or Failed or a send fails because the
// loop is gone; it waits before reading on while its backlog is full. The
// lines that one read brought are sent together, before the next read. The
// source is destroyed on return, which closes an owned pipe end; a borrowed
// handle stays open.
// When shape is given, the Lines of some batches (about half of the bytes) go
// through it on the reader's thread: it appends what the loop receives for the line as Shaped
// says (protocol::RecordRelay::relay). The loop takes both shaped and plain lines.
using LineShaper = std::function<Shaped(std::string_view line, std::string& out)>;
void run_line_reader(std::unique_ptr<ByteSource> source, std::size_t limit, EventSource tag, EventSender events,
                     LineShaper shape = {});
void start_line_reader(std::unique_ptr<ByteSource> source, std::size_t limit, EventSource tag, EventSender events,
                       LineShaper shape = {});

// Writes each received line to the backend's standard input
// and a line feed, in order, everything queued at once in as few writes as the
// pipe allows. While the pipe is full it marks its channel stalled, and only
// then does a full channel refuse. On the first failed write it sends one Failed
// event (tagged BackendInputWriter) with the OS error text, or "failed to write
// whole buffer" when the pipe took no bytes. When it stops (failure, or the
// loop let go and nothing is left) it closes its receiving end first, so later
// sends find it closed, then the pipe, so the backend sees the end of its input.
// After a write it looks for the next value for spin before it sleeps.
void run_backend_input_writer(BackendInputReceiver input, platform::OwnedHandle pipe, EventSender events,
                              std::chrono::microseconds spin);
void start_backend_input_writer(BackendInputReceiver input, platform::OwnedHandle pipe, EventSender events,
                                std::chrono::microseconds spin);

// Sends one TerminationRequest event for each termination request that wait
// answers true for, until a send fails because the loop is gone, or until
// wait answers false: no request can be passed on any more, and the watcher
// lets go of its sender rather than wake the loop for requests nobody made.
// Unlike the other workers it has no stream whose end would end it: while the
// loop runs and requests can come, the events channel never closes.
using TerminationWait = std::function<bool()>;
void run_termination_watcher(EventSender events, TerminationWait wait = platform::wait_for_termination_request);
void start_termination_watcher(EventSender events);

// Waits for the backend's exit and sends one BackendExit event, then lets go
// of its sender. The loop can then wait for events instead of polling.
void run_exit_watcher(platform::ExitWatch watch, EventSender events);
void start_exit_watcher(platform::ExitWatch watch, EventSender events);

}  // namespace quern::io
