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

// Appends a 64-bit float in the runtime's one notation: the shortest digits that
// read back to the same value; plain notation with at least one digit after the
// point when the decimal exponent lies in [-5, 15] (0.0, 1.5, 100.0, 0.000015),
// otherwise d.ddde+N / d.ddde-N (1e+16, 1.5e-7, 5e-324). Not finite: "null".
void append_float(double value, std::string& out);

}  // namespace quern::json
