#pragma once

// What the fuzz targets share: a byte source over the fuzzer's input that can
// hand the bytes out in reads of chosen sizes, reading a stream to its end,
// and a check that stops the run loudly, so that libFuzzer keeps the input.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "io/line_reader.hpp"

namespace quern::fuzz {

// Prints what failed (with a bounded, escaped detail) and aborts: libFuzzer
// treats the abort as a crash and saves the input that caused it.
[[noreturn]] inline void fail(const char* condition, const char* file, int line, std::string_view detail) {
    std::string shown;
    for (const char c : detail.substr(0, 2000)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            shown += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        }
    }
    std::fprintf(stderr, "\n%s:%d: fuzz check failed: %s\n  %s\n", file, line, condition, shown.c_str());
    std::abort();
}

// The detail is only worked out when the check fails.
#define QUERN_FUZZ_CHECK(condition, detail)                                    \
    do {                                                                       \
        if (!(condition)) ::quern::fuzz::fail(#condition, __FILE__, __LINE__, (detail)); \
    } while (false)

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return size == 0 ? std::string_view() : std::string_view(reinterpret_cast<const char*>(data), size);
}

// The error a failing source reports at its end (EIO on POSIX).
inline constexpr platform::OsErrorCode kReadErrorCode = 5;

// Serves fixed bytes. Each read hands out as much as the reader asks for, or,
// when chunk sizes are given, the next of them in turn (never more than asked,
// never zero: a pipe never reports data of no bytes). At the end: end of
// stream, or a read error when told.
class ChunkedSource final : public io::ByteSource {
public:
    explicit ChunkedSource(std::string_view bytes, std::vector<std::size_t> chunks = {},
                           bool fail_at_end = false)
        : bytes_(bytes), chunks_(std::move(chunks)), fail_at_end_(fail_at_end) {}

    platform::ReadOutcome read(char* buffer, std::size_t capacity) override {
        using Kind = platform::ReadOutcome::Kind;
        if (at_ == bytes_.size()) {
            if (fail_at_end_) return {Kind::Error, 0, kReadErrorCode};
            return {Kind::End, 0, 0};
        }
        std::size_t n = std::min(capacity, bytes_.size() - at_);
        if (!chunks_.empty()) n = std::min(n, std::max<std::size_t>(1, chunks_[next_++ % chunks_.size()]));
        std::memcpy(buffer, bytes_.data() + at_, n);
        at_ += n;
        return {Kind::Data, n, 0};
    }

private:
    std::string_view bytes_;
    std::vector<std::size_t> chunks_;
    bool fail_at_end_;
    std::size_t at_ = 0;
    std::size_t next_ = 0;
};

// Every result of reading the source to its end, the final Closed or Failed
// included, as a line reader worker would see them.
inline std::vector<io::LineResult> read_all_lines(io::ByteSource& source, std::size_t limit) {
    io::BufferedReader reader(source);
    std::vector<io::LineResult> results;
    for (;;) {
        results.push_back(io::read_bounded_line(reader, limit));
        const io::LineEventKind kind = results.back().kind;
        if (kind == io::LineEventKind::Closed || kind == io::LineEventKind::Failed) return results;
    }
}

}  // namespace quern::fuzz
