#include "io/workers.hpp"

#include <array>
#include <memory>

#include "json/write.hpp"
#include "platform/thread.hpp"

namespace quern::io {

void run_line_reader(std::unique_ptr<ByteSource> source, std::size_t limit, EventSource tag,
                     EventSender events) {
    BufferedReader reader(*source);
    for (;;) {
        LineResult result = read_bounded_line(reader, limit);
        const bool last = result.kind == LineEventKind::Closed || result.kind == LineEventKind::Failed;
        if (events.send(RuntimeEvent{result.kind, std::move(result.text), tag}) != base::SendResult::Sent) return;
        if (last) return;
    }
}

void start_line_reader(std::unique_ptr<ByteSource> source, std::size_t limit, EventSource tag,
                       EventSender events) {
    // std::function needs a copyable callable; the move-only pieces ride in a shared holder.
    struct Parts {
        std::unique_ptr<ByteSource> source;
        EventSender events;
    };
    auto parts = std::make_shared<Parts>(Parts{std::move(source), std::move(events)});
    platform::spawn_detached_thread([parts, limit, tag] {
        run_line_reader(std::move(parts->source), limit, tag, std::move(parts->events));
    });
}

namespace {

constexpr std::size_t kChunkBytes = 8192;

// Streams a value's text into the pipe through one fixed chunk: a large value
// never exists as a whole second copy, a small one goes out in one write.
class PipeOut {
public:
    explicit PipeOut(platform::NativeHandle pipe) : pipe_(pipe) {}

    void put(char c) { put(std::string_view(&c, 1)); }
    void put(std::string_view piece) {
        while (!piece.empty() && status_.ok()) {
            const std::size_t room = chunk_.size() - used_;
            const std::size_t take = piece.size() < room ? piece.size() : room;
            piece.copy(chunk_.data() + used_, take);
            used_ += take;
            piece.remove_prefix(take);
            if (used_ == chunk_.size()) flush();
        }
    }
    base::Status finish() {
        flush();
        return status_;
    }

private:
    void flush() {
        if (used_ == 0 || !status_.ok()) return;
        status_ = platform::write_all(pipe_, std::string_view(chunk_.data(), used_));
        used_ = 0;
    }

    platform::NativeHandle pipe_;
    std::array<char, kChunkBytes> chunk_{};
    std::size_t used_ = 0;
    base::Status status_;
};

base::Status write_line(platform::NativeHandle pipe, const json::Value& value) {
    PipeOut out(pipe);
    json::CompactText<PipeOut>(out).value(value);
    out.put('\n');
    return out.finish();
}

}  // namespace

void run_backend_input_writer(BackendInputReceiver input, platform::OwnedHandle pipe,
                              EventSender events) {
    while (std::optional<json::Value> value = input.receive()) {
        base::Status written = write_line(pipe.native(), *value);
        if (!written.ok()) {
            (void)events.send(RuntimeEvent{LineEventKind::Failed, written.error(),
                                           EventSource::BackendInputWriter});
            break;
        }
    }
    input.close();
    pipe.close();
    events.release();
}

void start_backend_input_writer(BackendInputReceiver input, platform::OwnedHandle pipe,
                                EventSender events) {
    struct Parts {
        BackendInputReceiver input;
        platform::OwnedHandle pipe;
        EventSender events;
    };
    auto parts = std::make_shared<Parts>(Parts{std::move(input), std::move(pipe), std::move(events)});
    platform::spawn_detached_thread([parts] {
        run_backend_input_writer(std::move(parts->input), std::move(parts->pipe),
                                 std::move(parts->events));
    });
}

}  // namespace quern::io
