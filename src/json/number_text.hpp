#pragma once

#include <optional>
#include <string_view>

#include "json/value.hpp"

namespace quern::json {

// Converts the text of a JSON number. Integers that fit 64 bits keep an integer
// kind; larger ones, and every number with a fraction or an exponent, become a
// float. "-0" is the float -0.0 (zero is never a negative integer). A float too
// small for a double becomes a signed zero; one too large gives nullopt.
std::optional<Value> number_from_text(std::string_view text);

}  // namespace quern::json
