#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/byte_budget.hpp"
#include "base/channel.hpp"
#include "json/value.hpp"

namespace quern::io {

// Which worker thread sent an event.
enum class EventSource : std::uint8_t {
    RuntimeStdin = 0,
    BackendStdout = 1,
    BackendStderr = 2,
    BackendInputWriter = 3,
    // The OS asked the runtime to end (SIGTERM, Ctrl+C, ...): one line of
    // kind Line without text per request.
    TerminationRequest = 4,
    // The backend process has exited (or can no longer be waited for): one
    // line of kind Line without text, so the loop looks at once.
    BackendExit = 5,
};

// What happened on a stream.
enum class LineEventKind : std::uint8_t {
    Line = 0,         // one complete line; text holds it without trailing CR/LF
    Oversized = 1,    // a line over the reader's limit was read and thrown away
    InvalidUtf8 = 2,  // a line that is not UTF-8 was read and thrown away
    Closed = 3,       // end of stream; the reader stops after sending it
    Failed = 4,       // read (or, from the writer, write) error; text holds the OS error text
    // A backend stdout line its reader has already made into a record (see
    // backend_records.hpp); NotARecord has no text.
    Record = 5,
    NotARecord = 6,
};

// One thing that happened on a stream, as the loop handles it.
struct StreamLine {
    LineEventKind kind = LineEventKind::Closed;
    std::string_view text;  // for Line, Record and Failed; empty otherwise
    EventSource source = EventSource::RuntimeStdin;
};

// What a worker tells the event loop: one or more StreamLines from one source,
// in order, packed into one buffer. A reader hands over everything one read
// brought this way, with one allocation and one wake-up of the loop.
// Move-only: a reader's event holds its place in the reader's backlog until
// the loop is done with it.
class RuntimeEvent {
public:
    RuntimeEvent() = default;
    // An event to fill with add; buffer lends its memory.
    explicit RuntimeEvent(EventSource source, std::string buffer = {}) : source_(source), packed_(std::move(buffer)) {
        packed_.clear();
    }
    // An event of one line (or of one happening without text).
    RuntimeEvent(LineEventKind kind, std::string_view text, EventSource source) : source_(source) { add(kind, text); }

    EventSource source() const { return source_; }
    bool empty() const { return packed_.empty(); }
    // The bytes of its lines' texts and their headers.
    std::size_t size() const { return packed_.size(); }
    // The memory they take.
    std::size_t capacity() const { return packed_.capacity(); }

    void add(LineEventKind kind, std::string_view text) {
        char header[kHeaderBytes];
        header[0] = static_cast<char>(kind);
        const auto length = static_cast<std::uint32_t>(text.size());
        std::memcpy(header + 1, &length, sizeof length);
        packed_.append(header, kHeaderBytes);
        packed_.append(text);
    }

    // Adds a line whose text fill(std::string&) appends to the string it is
    // given; fill answers the line's kind, which is also answered here.
    template <typename Fill>
    LineEventKind add_filled(Fill&& fill) {
        const std::size_t at = packed_.size();
        packed_.append(kHeaderBytes, '\0');
        const LineEventKind kind = fill(packed_);
        packed_[at] = static_cast<char>(kind);
        const auto length = static_cast<std::uint32_t>(packed_.size() - at - kHeaderBytes);
        std::memcpy(packed_.data() + at + 1, &length, sizeof length);
        return kind;
    }

    // Calls each(const StreamLine&) for every line, in order.
    template <typename Each>
    void for_each(Each&& each) const {
        std::size_t at = 0;
        while (at < packed_.size()) {
            std::uint32_t length = 0;
            std::memcpy(&length, packed_.data() + at + 1, sizeof length);
            const StreamLine line{static_cast<LineEventKind>(packed_[at]),
                                  std::string_view(packed_).substr(at + kHeaderBytes, length), source_};
            at += kHeaderBytes + length;
            each(line);
        }
    }

    void hold_backlog(base::BudgetLease backlog) { backlog_ = std::move(backlog); }

    // The loop is done with it: its reader may read on, and reuses its memory.
    void finish() {
        backlog_.reset(std::move(packed_));
        *this = RuntimeEvent{};
    }

private:
    static constexpr std::size_t kHeaderBytes = 1 + sizeof(std::uint32_t);

    EventSource source_ = EventSource::RuntimeStdin;
    std::string packed_;  // per line: its kind, its length, its text
    base::BudgetLease backlog_;
};

// The workers' channel to the loop: unbounded, one sender handle per worker.
// It closes for the loop once every worker has let go of its handle.
using EventSender = base::Sender<RuntimeEvent>;
using EventReceiver = base::Receiver<RuntimeEvent>;

// The loop's channel to the backend input writer: the values it writes to the
// backend's standard input, in order.
inline constexpr std::size_t kBackendInputCapacity = 32;
using BackendInputSender = base::Sender<json::Value>;
using BackendInputReceiver = base::Receiver<json::Value>;

}  // namespace quern::io
