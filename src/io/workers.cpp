#include "io/workers.hpp"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>

#include "platform/this_process.hpp"
#include "platform/thread.hpp"

namespace quern::io {

void run_line_reader(std::unique_ptr<ByteSource> source, std::size_t limit, EventSource tag, EventSender events,
                     LineShaper shape) {
    BufferedReader reader(*source);
    auto backlog = std::make_shared<base::ByteBudget>(kReaderBacklogBytes);
    // The lines of one read go to the loop together, packed into one buffer:
    // one wake-up for all of them. The batch leaves before the reader could
    // wait for more bytes.
    RuntimeEvent batch(tag, backlog->take_buffer());
    std::string scratch;  // a line that spans reads
    // A batch is shaped here or left to the loop, which would otherwise mostly
    // wait, whichever has had fewer bytes so far: a flood's work is shared by
    // the two threads. Counting batches instead would not share it: a batch
    // shaped here takes a whole read, and the next one only its remainder.
    bool shape_here = false;
    std::uint64_t shaped_bytes = 0;
    std::uint64_t plain_bytes = 0;
    const auto read_line = [&]() {
        if (!shape_here) {
            return batch.add_filled([&](std::string& out) { return read_bounded_line_into(reader, limit, out); });
        }
        std::string_view text;
        const LineEventKind kind = read_bounded_line_view(reader, limit, scratch, text);
        if (kind == LineEventKind::Line) {
            batch.add_shaped([&](std::string& out) { return shape(text, out); });
        } else {
            batch.add(kind, text);
        }
        return kind;
    };
    for (;;) {
        if (batch.empty()) shape_here = shape && shaped_bytes <= plain_bytes;
        const LineEventKind kind = read_line();
        const bool last = kind == LineEventKind::Closed || kind == LineEventKind::Failed;
        const bool line_ready = reader.buffered().find('\n') != std::string_view::npos;
        if (!last && line_ready && batch.size() < kReaderBatchBytes) continue;
        // The memory the batch takes, with the event's own size. Waits while
        // the loop holds a full backlog.
        const std::size_t cost = batch.capacity() + sizeof(RuntimeEvent);
        if (!backlog->acquire(cost)) return;
        batch.hold_backlog(base::BudgetLease(backlog, cost));
        (shape_here ? shaped_bytes : plain_bytes) += batch.size();
        if (events.send(std::move(batch)) != base::SendResult::Sent || last) return;
        batch = RuntimeEvent(tag, backlog->take_buffer());
    }
}

void start_line_reader(std::unique_ptr<ByteSource> source, std::size_t limit, EventSource tag, EventSender events,
                       LineShaper shape) {
    platform::spawn_detached_thread(
        [source = std::move(source), limit, tag, events = std::move(events), shape = std::move(shape)]() mutable {
            run_line_reader(std::move(source), limit, tag, std::move(events), std::move(shape));
        });
}

namespace {

// The pipe's own size on Linux and the quota the runtime asks for on Windows:
// one write hands over as much as the pipe can take at once.
constexpr std::size_t kChunkBytes = 65536;

// Streams lines into the pipe through one fixed chunk: many small ones go out
// in one write.
class PipeOut {
public:
    PipeOut(platform::NativeHandle pipe, BackendInputReceiver& input) : pipe_(pipe), input_(input) {}

    void put(char c) {
        if (used_ == chunk_.size()) flush();
        chunk_[used_++] = c;
    }
    void put(std::string_view piece) {
        while (!piece.empty() && status_.ok()) {
            if (used_ == chunk_.size()) flush();
            const std::size_t room = chunk_.size() - used_;
            const std::size_t take = piece.size() < room ? piece.size() : room;
            piece.copy(chunk_.data() + used_, take);
            used_ += take;
            piece.remove_prefix(take);
        }
    }
    base::Status finish() {
        flush();
        return status_;
    }

private:
    void flush() {
        if (used_ == 0 || !status_.ok()) {
            used_ = 0;
            return;
        }
        status_ = platform::write_all_watching_full_pipe(pipe_, std::string_view(chunk_.data(), used_),
                                                         [this](bool full) { input_.set_stalled(full); });
        used_ = 0;
    }

    platform::NativeHandle pipe_;
    BackendInputReceiver& input_;
    std::array<char, kChunkBytes> chunk_{};
    std::size_t used_ = 0;
    base::Status status_;
};

}  // namespace

void run_backend_input_writer(BackendInputReceiver input, platform::OwnedHandle pipe, EventSender events,
                              std::chrono::microseconds spin) {
    platform::make_pipe_writes_nonblocking(pipe.native());
    auto out = std::make_unique<PipeOut>(pipe.native(), input);
    std::deque<std::string> batch;
    while (input.receive_all(batch, spin)) {
        for (const std::string& line : batch) {
            input.begin_one_taken();
            out->put(line);
            out->put('\n');
        }
        batch.clear();
        base::Status written = out->finish();
        if (!written.ok()) {
            (void)events.send(RuntimeEvent(LineEventKind::Failed, written.error(), EventSource::BackendInputWriter));
            break;
        }
    }
    input.close();
    pipe.close();
    events.release();
}

void start_backend_input_writer(BackendInputReceiver input, platform::OwnedHandle pipe, EventSender events,
                                std::chrono::microseconds spin) {
    platform::spawn_detached_thread(
        [input = std::move(input), pipe = std::move(pipe), events = std::move(events), spin]() mutable {
            run_backend_input_writer(std::move(input), std::move(pipe), std::move(events), spin);
        });
}

void run_termination_watcher(EventSender events, TerminationWait wait) {
    for (;;) {
        if (!wait()) return;
        if (events.send(RuntimeEvent(EventSource::TerminationRequest)) !=
            base::SendResult::Sent) {
            return;
        }
    }
}

void run_exit_watcher(platform::ExitWatch watch, EventSender events) {
    watch.wait();
    (void)events.send(RuntimeEvent(EventSource::BackendExit));
    events.release();
}

void start_exit_watcher(platform::ExitWatch watch, EventSender events) {
    platform::spawn_detached_thread([watch = std::move(watch), events = std::move(events)]() mutable {
        run_exit_watcher(std::move(watch), std::move(events));
    });
}

void start_termination_watcher(EventSender events) {
    platform::spawn_detached_thread(
        [events = std::move(events)]() mutable { run_termination_watcher(std::move(events)); });
}

}  // namespace quern::io
