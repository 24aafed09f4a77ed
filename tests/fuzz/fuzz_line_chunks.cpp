// The bounded line reader under any chunking of the same bytes: a pipe hands
// out what the writer wrote in pieces of any size, and the lines must not
// depend on where those pieces begin and end.
//
// The input picks the limit, the read sizes and whether the stream ends in a
// read error, then gives the stream's bytes:
//   byte 0   the limit: 1 to 240 (0x00-0xEF), the request limit (0xF0-0xF3),
//            the backend limit (0xF4-0xF7), or around the reader's buffer size
//            (0xF8-0xFF: 8188 to 8195)
//   byte 1   bit 0: the stream ends in a read error; bits 1-4: how many read
//            sizes follow (none: one byte per read)
//   sizes    one byte each, used in turn; 0 stands for as much as is asked
//   rest     the stream
// The lines read with those sizes, and read with reads as large as the reader
// asks for, must both equal the lines worked out directly from the bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "io/line_reader.hpp"
#include "platform/os_error.hpp"
#include "protocol/records.hpp"
#include "protocol/request.hpp"
#include "reference_utf8.hpp"

namespace quern::fuzz {
namespace {

struct Stream {
    std::size_t limit = 1;
    bool fail_at_end = false;
    std::vector<std::size_t> chunks;
    std::string_view bytes;
};

Stream decode(std::string_view input) {
    const auto take = [&input]() -> unsigned {
        if (input.empty()) return 0;
        const auto byte = static_cast<unsigned char>(input.front());
        input.remove_prefix(1);
        return byte;
    };
    Stream stream;
    const unsigned selector = take();
    if (selector < 0xF0) {
        stream.limit = selector + 1;
    } else if (selector < 0xF4) {
        stream.limit = protocol::kRequestLineLimit;
    } else if (selector < 0xF8) {
        stream.limit = protocol::kBackendLineLimit;
    } else {
        stream.limit = io::kReadBufferBytes - 4 + (selector - 0xF8);
    }
    const unsigned flags = take();
    stream.fail_at_end = (flags & 1) != 0;
    const unsigned count = (flags >> 1) & 0x0F;
    for (unsigned i = 0; i < count; ++i) {
        const unsigned size = take();
        stream.chunks.push_back(size == 0 ? io::kReadBufferBytes : size);
    }
    if (stream.chunks.empty()) stream.chunks.push_back(1);
    stream.bytes = input;
    return stream;
}

io::LineResult classify(std::string_view piece, std::size_t limit) {
    if (piece.size() > limit) return {io::LineEventKind::Oversized, {}};
    if (!well_formed_utf8(piece)) return {io::LineEventKind::InvalidUtf8, {}};
    while (!piece.empty() && (piece.back() == '\n' || piece.back() == '\r')) piece.remove_suffix(1);
    return {io::LineEventKind::Line, std::string(piece)};
}

// The lines straight from the bytes: each piece through its line feed, and a
// last piece without one, unless the stream fails before it ends.
std::vector<io::LineResult> expected_lines(const Stream& stream) {
    std::vector<io::LineResult> results;
    std::string_view rest = stream.bytes;
    while (!rest.empty()) {
        const std::size_t newline = rest.find('\n');
        if (newline == std::string_view::npos && stream.fail_at_end) break;
        const std::size_t length = newline == std::string_view::npos ? rest.size() : newline + 1;
        results.push_back(classify(rest.substr(0, length), stream.limit));
        rest.remove_prefix(length);
    }
    if (stream.fail_at_end) {
        results.push_back({io::LineEventKind::Failed, platform::os_error_text(kReadErrorCode)});
    } else {
        results.push_back({io::LineEventKind::Closed, {}});
    }
    return results;
}

std::string describe(const std::vector<io::LineResult>& results) {
    std::string text;
    for (const io::LineResult& result : results) {
        text += std::to_string(static_cast<int>(result.kind)) + ":" + result.text + "|";
    }
    return text;
}

void check_same(const std::vector<io::LineResult>& got, const std::vector<io::LineResult>& expected,
                const char* how) {
    bool same = got.size() == expected.size();
    for (std::size_t i = 0; same && i < got.size(); ++i) {
        same = got[i].kind == expected[i].kind && got[i].text == expected[i].text;
    }
    QUERN_FUZZ_CHECK(same, std::string(how) + ": " + describe(got) + " / expected: " + describe(expected));
}

}  // namespace
}  // namespace quern::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quern;
    const fuzz::Stream stream = fuzz::decode(fuzz::as_text(data, size));
    const std::vector<io::LineResult> expected = fuzz::expected_lines(stream);

    fuzz::ChunkedSource whole(stream.bytes, {}, stream.fail_at_end);
    fuzz::check_same(fuzz::read_all_lines(whole, stream.limit), expected, "whole reads");

    fuzz::ChunkedSource pieces(stream.bytes, stream.chunks, stream.fail_at_end);
    fuzz::check_same(fuzz::read_all_lines(pieces, stream.limit), expected, "chunked reads");
    return 0;
}
