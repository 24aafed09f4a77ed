#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/byte_budget.hpp"
#include "base/channel.hpp"
#include "json/value.hpp"
#include "protocol/relayed_record.hpp"

namespace quern::io {

// Which worker thread sent an event.
enum class EventSource : std::uint8_t {
    RuntimeStdin = 0,
    BackendStdout = 1,
    BackendStderr = 2,
    BackendInputWriter = 3,
    // Process events, without lines: the OS asked the runtime to end
    // (SIGTERM, Ctrl+C, ...), one event per request ...
    TerminationRequest = 4,
    // ... and the backend process has exited (or can no longer be waited
    // for), so the loop looks at once.
    BackendExit = 5,
};

// The loop hears of three kinds of things: what happened on a stream (a
// StreamLine, from every reader and the writer), a backend stdout line its
// reader has already made into a record (a ShapedLine), and a process event
// (an event of its own source, without lines).

// What happened on a stream.
enum class LineEventKind : std::uint8_t {
    Line = 0,         // one complete line; text holds it without trailing CR/LF
    Oversized = 1,    // a line over the reader's limit was read and thrown away
    InvalidUtf8 = 2,  // a line that is not UTF-8 was read and thrown away
    Closed = 3,       // end of stream; the reader stops after sending it
    Failed = 4,       // read (or, from the writer, write) error; text holds the OS error text
};

struct StreamLine {
    LineEventKind kind = LineEventKind::Closed;
    std::string_view text;  // for Line and Failed; empty otherwise
};

// A backend stdout line made into a record (by protocol::RecordRelay), or
// found to be none.
struct ShapedLine {
    bool is_record = false;
    std::string_view record;        // the record's compact text
    std::string_view answered_key;  // the key of the request it answers; empty when none
};

// What a shaper appended for one line: the record's compact text, then the
// key of the request it answers (key_bytes long); nothing for no record.
using Shaped = protocol::RelayedRecord;

// The line a shaper's text and answer make.
inline ShapedLine shaped_line(std::string_view appended, Shaped shaped) {
    if (!shaped.is_record) return {};
    const std::size_t record_bytes = appended.size() - shaped.key_bytes;
    return {true, appended.substr(0, record_bytes), appended.substr(record_bytes)};
}

// What a worker tells the event loop: the lines of one source, in order,
// packed into one buffer, or (a process event) none. A reader hands over
// everything one read brought this way, with one allocation and one wake-up of
// the loop. Move-only: a reader's event holds its place in the reader's
// backlog until the loop is done with it.
class RuntimeEvent {
public:
    RuntimeEvent() = default;
    // An event to fill with add, or a process event; buffer lends its memory.
    explicit RuntimeEvent(EventSource source, std::string buffer = {}) : source_(source), packed_(std::move(buffer)) {
        packed_.clear();
    }
    // An event of one line.
    RuntimeEvent(LineEventKind kind, std::string_view text, EventSource source) : source_(source) { add(kind, text); }

    EventSource source() const { return source_; }
    bool empty() const { return packed_.empty(); }
    // The bytes of its lines' texts and their headers.
    std::size_t size() const { return packed_.size(); }
    // The memory they take.
    std::size_t capacity() const { return packed_.capacity(); }

    void add(LineEventKind kind, std::string_view text) {
        const std::size_t at = begin_entry();
        packed_.append(text);
        end_entry(at, static_cast<Tag>(kind));
    }

    // Adds a line whose text fill(std::string&) appends to the string it is
    // given; fill answers the line's kind, which is also answered here.
    template <typename Fill>
    LineEventKind add_filled(Fill&& fill) {
        const std::size_t at = begin_entry();
        const LineEventKind kind = fill(packed_);
        end_entry(at, static_cast<Tag>(kind));
        return kind;
    }

    // Adds a shaped line, which shape(std::string&) appends as Shaped says.
    template <typename Shape>
    void add_shaped(Shape&& shape) {
        const std::size_t at = begin_entry();
        const Shaped shaped = shape(packed_);
        if (!shaped.is_record) {
            packed_.resize(at + kHeaderBytes);
            return end_entry(at, Tag::NotARecord);
        }
        append_u32(shaped.key_bytes);
        end_entry(at, Tag::Record);
    }

    // Calls on_line(const StreamLine&) and on_shaped(const ShapedLine&) for its
    // lines, in order. Only the backend stdout reader shapes lines; the
    // events of every other source take on_line alone.
    template <typename OnLine, typename OnShaped>
    void for_each(OnLine&& on_line, OnShaped&& on_shaped) const {
        std::size_t at = 0;
        while (at < packed_.size()) {
            const auto tag = static_cast<Tag>(packed_[at]);
            const std::string_view text = std::string_view(packed_).substr(at + kHeaderBytes, read_u32(at + 1));
            at += kHeaderBytes + text.size();
            switch (tag) {
                case Tag::Record: {
                    const Shaped shaped{true, read_u32(at - sizeof(std::uint32_t))};
                    on_shaped(shaped_line(text.substr(0, text.size() - sizeof(std::uint32_t)), shaped));
                    break;
                }
                case Tag::NotARecord: on_shaped(ShapedLine{}); break;
                default: on_line(StreamLine{static_cast<LineEventKind>(tag), text}); break;
            }
        }
    }
    template <typename OnLine>
    void for_each(OnLine&& on_line) const {
        for_each(on_line, [](const ShapedLine&) {});
    }

    void hold_backlog(base::BudgetLease backlog) { backlog_ = std::move(backlog); }

    // The loop is done with it: its reader may read on, and reuses its memory.
    void finish() {
        backlog_.reset(std::move(packed_));
        *this = RuntimeEvent{};
    }

private:
    // Per line: its tag (a LineEventKind, or one of these), its length, its
    // text; a record's text is its compact text, the key, the key's length.
    enum class Tag : std::uint8_t { Record = 5, NotARecord = 6 };
    static constexpr std::size_t kHeaderBytes = 1 + sizeof(std::uint32_t);

    std::size_t begin_entry() {
        const std::size_t at = packed_.size();
        packed_.append(kHeaderBytes, '\0');
        return at;
    }
    void end_entry(std::size_t at, Tag tag) {
        packed_[at] = static_cast<char>(tag);
        const auto length = static_cast<std::uint32_t>(packed_.size() - at - kHeaderBytes);
        std::memcpy(packed_.data() + at + 1, &length, sizeof length);
    }
    void append_u32(std::uint32_t value) {
        char bytes[sizeof value];
        std::memcpy(bytes, &value, sizeof value);
        packed_.append(bytes, sizeof value);
    }
    std::uint32_t read_u32(std::size_t at) const {
        std::uint32_t value = 0;
        std::memcpy(&value, packed_.data() + at, sizeof value);
        return value;
    }

    EventSource source_ = EventSource::RuntimeStdin;
    std::string packed_;
    base::BudgetLease backlog_;
};

// The workers' channel to the loop: unbounded, one sender handle per worker.
// It closes for the loop once every worker has let go of its handle.
using EventSender = base::Sender<RuntimeEvent>;
using EventReceiver = base::Receiver<RuntimeEvent>;

// The loop's channel to the backend input writer: the compact text of each
// JSON value it writes to the backend's standard input, one line each
// (without its line feed), in order.
inline constexpr std::size_t kBackendInputCapacity = 32;
using BackendInputSender = base::Sender<std::string>;
using BackendInputReceiver = base::Receiver<std::string>;

}  // namespace quern::io
