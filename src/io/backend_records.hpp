#pragma once

#include <string>
#include <string_view>

#include "io/events.hpp"
#include "protocol/record_relay.hpp"

namespace quern::io {

// Backend stdout lines become front-end records on their reader's thread or on
// the loop's, the same way on both: the work of a flood is split between them.

// Appends what the loop receives for one backend stdout line and answers its
// kind: Record, whose text is the record's compact text followed, when the
// record answers a request, by a line feed and that request's key (compact
// text never holds a raw line feed); or NotARecord, with no text.
LineEventKind shape_backend_record(protocol::RecordRelay& relay, std::string_view line, std::string& out);

// A Record's text taken apart: the compact text and the key of the request it
// answers, empty when it answers none.
struct RecordText {
    std::string_view record;
    std::string_view answered_key;
};
RecordText split_record_text(std::string_view text);

}  // namespace quern::io
