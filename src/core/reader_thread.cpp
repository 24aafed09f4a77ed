#include "core/reader_thread.hpp"

#include <memory>

#include "platform/thread.hpp"

namespace quern {

void run_line_reader(std::unique_ptr<ByteSource> source, std::size_t limit, EventSource tag,
                     EventProducer events) {
    BufferedReader reader(*source);
    for (;;) {
        LineResult result = read_bounded_line(reader, limit);
        const bool last = result.kind == LineEventKind::Closed || result.kind == LineEventKind::Failed;
        if (!events.send(RuntimeEvent{result.kind, std::move(result.text), tag})) return;
        if (last) return;
    }
}

void start_line_reader(std::unique_ptr<ByteSource> source, std::size_t limit, EventSource tag,
                       EventProducer events) {
    // std::function needs a copyable callable; the move-only pieces ride in a shared holder.
    struct Parts {
        std::unique_ptr<ByteSource> source;
        EventProducer events;
    };
    auto parts = std::make_shared<Parts>(Parts{std::move(source), std::move(events)});
    platform::spawn_detached_thread([parts, limit, tag] {
        run_line_reader(std::move(parts->source), limit, tag, std::move(parts->events));
    });
}

}  // namespace quern
