#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "io/events.hpp"
#include "platform/handle.hpp"

namespace quern::io {

// Where a line reader gets its bytes: one blocking read at a time.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual platform::ReadOutcome read(char* buffer, std::size_t capacity) = 0;
};

// Reads an OS handle: a pipe end the source owns (closed with it), or a
// borrowed handle such as the runtime's own standard input (left open).
class HandleByteSource final : public ByteSource {
public:
    explicit HandleByteSource(platform::OwnedHandle owned);
    static std::unique_ptr<HandleByteSource> borrowing(platform::NativeHandle handle);

    platform::ReadOutcome read(char* buffer, std::size_t capacity) override;

private:
    HandleByteSource() = default;
    platform::OwnedHandle owned_;
    platform::NativeHandle handle_ = platform::kInvalidHandle;
};

// Size of each reader's own read buffer.
inline constexpr std::size_t kReadBufferBytes = 65536;

// A byte source with the reader's 64 KiB buffer in front of it.
class BufferedReader {
public:
    explicit BufferedReader(ByteSource& source);

    ByteSource& source() { return source_; }
    std::string_view buffered() const;
    void consume(std::size_t count);
    // One read into the empty buffer; End leaves it empty.
    platform::ReadOutcome refill();

private:
    ByteSource& source_;
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// The result of one read_bounded_line: kind Line (text = the line), Oversized,
// InvalidUtf8, Closed, or Failed (text = the OS error text).
struct LineResult {
    LineEventKind kind;
    std::string text;
};

// Reads one line. The limit counts every byte of the line, its line feed and
// any carriage returns included. A longer line is consumed through its line
// feed without being kept (memory stays within the limit plus one buffer) and
// reported once as Oversized. A last line without a line feed counts as a line.
// Trailing CRs and LFs are removed from a Line; other CRs stay.
LineResult read_bounded_line(BufferedReader& reader, std::size_t limit);
// The same, appending a Line's text or a Failed read's OS error text to out
// (which is otherwise left as it was) and answering the kind: the readers
// pack lines straight into the buffer they hand over.
LineEventKind read_bounded_line_into(BufferedReader& reader, std::size_t limit, std::string& out);
// The same, giving the text as a view: into the reader's buffer when the line
// lies whole in it (no copy), else into scratch. It is valid until the next
// read from the reader.
LineEventKind read_bounded_line_view(BufferedReader& reader, std::size_t limit, std::string& scratch,
                                     std::string_view& text);

}  // namespace quern::io
