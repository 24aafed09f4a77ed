#pragma once

#include <cstddef>
#include <memory>

#include "core/event_queue.hpp"
#include "core/line_reader.hpp"

namespace quern {

// Line limits of the three readers, line feed included.
inline constexpr std::size_t kRequestLineLimit = 65536;
inline constexpr std::size_t kBackendLineLimit = 1048576;

// The reader thread's body: reads lines from the source and sends each result
// as one event tagged with the source, until it has sent Closed or Failed or a
// send fails because the consumer is gone. The source is destroyed on return,
// which closes an owned pipe end; a borrowed handle stays open.
void run_line_reader(std::unique_ptr<ByteSource> source, std::size_t limit, EventSource tag,
                     EventProducer events);

// Runs run_line_reader on a new detached worker thread.
void start_line_reader(std::unique_ptr<ByteSource> source, std::size_t limit, EventSource tag,
                       EventProducer events);

}  // namespace quern
