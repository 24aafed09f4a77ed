#pragma once

#include <optional>
#include <string>

#include "io/line_reader.hpp"

namespace quern::io {

// Reads what the runtime wrote into a pipe, line by line, as the backend would.
class LineSource {
public:
    explicit LineSource(platform::OwnedHandle read_end)
        : source_(std::move(read_end)), reader_(source_) {}

    // The next line without its line feed; nullopt at end of stream.
    std::optional<std::string> next() {
        LineResult result = read_bounded_line(reader_, 1 << 24);
        if (result.kind != LineEventKind::Line) return std::nullopt;
        return result.text;
    }

private:
    HandleByteSource source_;
    BufferedReader reader_;
};

}  // namespace quern::io
