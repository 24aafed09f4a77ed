#pragma once

#include <optional>
#include <string_view>

#include "json/value.hpp"

namespace quern::json::detail {

// A single pass over text for the common case: well-formed JSON within the
// depth limit whose numbers fit. Gives the same value parse_json would, or
// nothing whenever the text is anything else (an error, a lone surrogate, a
// number out of range, ...); parse_json then takes its exact path, which owns
// every error message.
std::optional<Value> parse_common(std::string_view text, int max_depth);

}  // namespace quern::json::detail
