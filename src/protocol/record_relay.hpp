#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/rewrite.hpp"

namespace quern::protocol {

// Makes backend stdout lines into the records the front end receives: the
// compact text of each line that is a protocol record, and which pending
// request it answers. It keeps scratch space from line to line, so one relay
// serves one thread.
class RecordRelay {
public:
    // Appends the compact text of the line's record (no line feed) to out and
    // answers true; answers false, with out unchanged, when the line is no
    // protocol record. The line must be UTF-8.
    bool relay(std::string_view line, std::string& out);

    // After relay answered true: the request key (request_key) of the id of a
    // "response" record, nullopt for any other record or one without an id.
    const std::optional<std::string>& answered_key() const { return answered_key_; }

private:
    json::CompactRewriter rewriter_;
    std::optional<std::string> answered_key_;
};

}  // namespace quern::protocol
