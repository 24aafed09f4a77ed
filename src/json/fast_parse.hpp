#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "json/value.hpp"

namespace quern::json::detail {

// The length of the JSON number at the start of text (sign, whole part,
// fraction, exponent), 0 when none starts there: what a JSON scanner takes.
std::size_t number_token_length(std::string_view text);

// A single pass over text for the common case: well-formed JSON within the
// depth limit whose numbers fit. Gives the same value parse_json would, or
// nothing whenever the text is anything else (an error, a lone surrogate, a
// number out of range, ...); parse_json then takes its exact path, which owns
// every error message.
std::optional<Value> parse_common(std::string_view text, int max_depth);

}  // namespace quern::json::detail
