#pragma once

#include <string_view>

#include "base/result.hpp"
#include "json/value.hpp"

namespace quern::json {

// Deepest nesting of arrays and objects that parse_json accepts.
inline constexpr int kMaxDepth = 127;

// Parses the whole text as one JSON value followed by nothing but JSON
// whitespace. Every byte counts: a NUL is a fault, never an early end. On
// failure the message is a description ("expected value", "EOF while parsing a
// list", "recursion limit exceeded", ...) then " at line L column C", where C is
// the byte position in that line (at the end of the text: its last byte).
base::Result<Value> parse_json(std::string_view text);

namespace detail {
// parse_json without its fast path for well-formed text: the path that owns
// every error message. For tests that hold the two paths to the same values.
base::Result<Value> parse_json_exact(std::string_view text);
}  // namespace detail

}  // namespace quern::json
