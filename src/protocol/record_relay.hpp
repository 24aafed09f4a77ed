#pragma once

#include <string>
#include <string_view>

#include "json/rewrite.hpp"
#include "protocol/relayed_record.hpp"

namespace quern::protocol {

// Makes backend stdout lines into the records the front end receives: the
// compact text of each line that is a protocol record, and which pending
// request it answers. It keeps scratch space from line to line, so one relay
// serves one thread.
class RecordRelay {
public:
    // Appends to out the compact text of the line's record (no line feed),
    // then the request key (request_key) of the id of a "response" record, as
    // RelayedRecord says; appends nothing when the line is no protocol record.
    // The line must be UTF-8.
    RelayedRecord relay(std::string_view line, std::string& out);

private:
    json::CompactRewriter rewriter_;
};

}  // namespace quern::protocol
