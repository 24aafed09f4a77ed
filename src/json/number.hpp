#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/value.hpp"

namespace quern::json {

// Numbers in and out: the text of a JSON number as a value, and a float as text.

// Converts the text of a JSON number. Integers that fit 64 bits keep an integer
// kind; larger ones, and every number with a fraction or an exponent, become a
// float. "-0" is the float -0.0 (zero is never a negative integer). A float too
// small for a double becomes a signed zero; one too large gives nullopt.
std::optional<Value> number_from_text(std::string_view text);

// Appends a 64-bit float in the runtime's one notation, written out at its home,
// detail::append_float_notation: the shortest digits that read back to the same
// value, in plain notation or with an exponent (0.0, 1.5, 100.0, 1e+16,
// 5e-324). Not finite: "null".
void append_float(double value, std::string& out);

}  // namespace quern::json
