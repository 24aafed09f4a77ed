#pragma once

#include <string>
#include <string_view>

#include "io/events.hpp"
#include "protocol/record_relay.hpp"

namespace quern::io {

// Backend stdout lines become front-end records on their reader's thread or on
// the loop's, the same way on both: the work of a flood is split between them.

// Appends what the loop receives for one backend stdout line, as Shaped says:
// for a protocol record its compact text, then the key of the request it
// answers (none when it answers none); nothing for any other line.
Shaped shape_backend_record(protocol::RecordRelay& relay, std::string_view line, std::string& out);

// The same for a line the loop shapes itself, into out (cleared first), seen
// as its reader would have handed it over.
ShapedLine shape_backend_line(protocol::RecordRelay& relay, std::string_view line, std::string& out);

}  // namespace quern::io
