#include "io/line_reader.hpp"

#include "base/utf8.hpp"
#include "platform/os_error.hpp"

namespace quern::io {

HandleByteSource::HandleByteSource(platform::OwnedHandle owned)
    : owned_(std::move(owned)), handle_(owned_.native()) {}

std::unique_ptr<HandleByteSource> HandleByteSource::borrowing(platform::NativeHandle handle) {
    std::unique_ptr<HandleByteSource> source(new HandleByteSource());
    source->handle_ = handle;
    return source;
}

platform::ReadOutcome HandleByteSource::read(char* buffer, std::size_t capacity) {
    return platform::read_some(handle_, buffer, capacity);
}

BufferedReader::BufferedReader(ByteSource& source)
    : source_(source), buffer_(new char[kReadBufferBytes]) {}

std::string_view BufferedReader::buffered() const {
    return std::string_view(buffer_.get() + begin_, end_ - begin_);
}

void BufferedReader::consume(std::size_t count) { begin_ += count; }

platform::ReadOutcome BufferedReader::refill() {
    begin_ = end_ = 0;
    platform::ReadOutcome outcome = source_.read(buffer_.get(), kReadBufferBytes);
    if (outcome.kind == platform::ReadOutcome::Kind::Data) end_ = outcome.size;
    return outcome;
}

namespace {

std::string_view trim_line_end(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

// A line read whole and within the limit: Line with its ends trimmed, or
// InvalidUtf8.
LineEventKind judge_line(std::string_view& line) {
    if (!base::is_valid_utf8(line)) return LineEventKind::InvalidUtf8;
    line = trim_line_end(line);
    return LineEventKind::Line;
}

// The line is out's bytes from start on.
LineEventKind finish_line(std::string& out, std::size_t start, bool overlong) {
    std::string_view line = std::string_view(out).substr(start);
    const LineEventKind kind = overlong ? LineEventKind::Oversized : judge_line(line);
    out.resize(kind == LineEventKind::Line ? start + line.size() : start);
    return kind;
}

}  // namespace

LineEventKind read_bounded_line_into(BufferedReader& reader, std::size_t limit, std::string& out) {
    const std::size_t start = out.size();
    bool overlong = false;
    bool started = false;
    for (;;) {
        if (reader.buffered().empty()) {
            platform::ReadOutcome outcome = reader.refill();
            if (outcome.kind == platform::ReadOutcome::Kind::Error) {
                out.resize(start);
                out += platform::os_error_text(outcome.error);
                return LineEventKind::Failed;
            }
        }
        std::string_view available = reader.buffered();
        if (available.empty()) {
            if (!started) return LineEventKind::Closed;
            return finish_line(out, start, overlong);
        }
        const std::size_t newline = available.find('\n');
        const bool ends_line = newline != std::string_view::npos;
        std::string_view piece = available.substr(0, ends_line ? newline + 1 : available.size());
        reader.consume(piece.size());
        started = true;
        if (!overlong) {
            if (out.size() - start + piece.size() <= limit) {
                out.append(piece);
            } else {
                overlong = true;
                out.resize(start);
            }
        }
        if (ends_line) return finish_line(out, start, overlong);
    }
}

LineEventKind read_bounded_line_view(BufferedReader& reader, std::size_t limit, std::string& scratch,
                                     std::string_view& text) {
    const std::string_view available = reader.buffered();
    const std::size_t newline = available.find('\n');
    if (newline != std::string_view::npos && newline < limit) {
        reader.consume(newline + 1);
        text = available.substr(0, newline + 1);
        const LineEventKind kind = judge_line(text);
        if (kind != LineEventKind::Line) text = {};
        return kind;
    }
    scratch.clear();
    const LineEventKind kind = read_bounded_line_into(reader, limit, scratch);
    text = scratch;
    return kind;
}

LineResult read_bounded_line(BufferedReader& reader, std::size_t limit) {
    LineResult result{LineEventKind::Closed, {}};
    result.kind = read_bounded_line_into(reader, limit, result.text);
    return result;
}

}  // namespace quern::io
