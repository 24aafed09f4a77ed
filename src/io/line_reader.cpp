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
    : source_(source), buffer_(std::make_unique<char[]>(kReadBufferBytes)) {}

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

LineResult finish_line(std::string& line, bool overlong) {
    if (overlong) return {LineEventKind::Oversized, {}};
    if (!base::is_valid_utf8(line)) return {LineEventKind::InvalidUtf8, {}};
    line.resize(trim_line_end(line).size());
    return {LineEventKind::Line, std::move(line)};
}

}  // namespace

LineResult read_bounded_line(BufferedReader& reader, std::size_t limit) {
    std::string line;
    bool overlong = false;
    bool started = false;
    for (;;) {
        if (reader.buffered().empty()) {
            platform::ReadOutcome outcome = reader.refill();
            if (outcome.kind == platform::ReadOutcome::Kind::Error) {
                return {LineEventKind::Failed, platform::os_error_text(outcome.error)};
            }
        }
        std::string_view available = reader.buffered();
        if (available.empty()) {
            if (!started) return {LineEventKind::Closed, {}};
            return finish_line(line, overlong);
        }
        const std::size_t newline = available.find('\n');
        const bool ends_line = newline != std::string_view::npos;
        std::string_view piece = available.substr(0, ends_line ? newline + 1 : available.size());
        reader.consume(piece.size());
        started = true;
        if (!overlong) {
            if (line.size() + piece.size() <= limit) {
                line.append(piece);
            } else {
                overlong = true;
                std::string().swap(line);
            }
        }
        if (ends_line) return finish_line(line, overlong);
    }
}

}  // namespace quern::io
