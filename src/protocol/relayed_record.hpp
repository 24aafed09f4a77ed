#pragma once

#include <cstdint>

namespace quern::protocol {

// What a record relay appended for one backend stdout line: nothing when the
// line is no protocol record; else the record's compact text followed by the
// request key of the request it answers, key_bytes long (0 when it answers
// none). The two travel as one text so that a reader hands both over in one
// piece.
struct RelayedRecord {
    bool is_record = false;
    std::uint32_t key_bytes = 0;
};

}  // namespace quern::protocol
