#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quern::json::detail {

// Faults found by the value builder rather than by the grammar.
enum class BuilderFault { None, RecursionLimit, NumberOutOfRange, InvalidCodePoint };

enum class Container { None, Array, Object };

// What the parser knew when it stopped: its error code (RapidJSON's
// ParseErrorCode as an int, so this header needs no RapidJSON), where, the
// builder's own fault, and the innermost open container.
struct ParseStop {
    int code = 0;
    std::size_t offset = 0;
    BuilderFault fault = BuilderFault::None;
    Container innermost = Container::None;
};

// The parser's description of the fault, e.g. "expected `,` or `]`".
std::string describe_parse_stop(std::string_view text, const ParseStop& stop);

// " at line L column C" for a byte offset; past the end, the last byte's column.
std::string describe_position(std::string_view text, std::size_t offset);

}  // namespace quern::json::detail
