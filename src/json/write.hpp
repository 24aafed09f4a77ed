#pragma once

#include <string>

#include "json/value.hpp"

namespace quern::json {

// Appends the compact text of a value: no whitespace, object members in key
// order at every depth, integers exact, floats as append_float writes them.
// Strings escape only '"', '\\' and 0x00-0x1F (\b \t \n \f \r, else \u00xx in
// lower case); everything else, 0x7F and '/' included, goes out as its own bytes.
void append_compact(const Value& value, std::string& out);

// The compact text as a new string; the request key of an id is exactly this.
std::string to_compact_text(const Value& value);

}  // namespace quern::json
