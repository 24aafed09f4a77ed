#include "io/backend_records.hpp"

namespace quern::io {

LineEventKind shape_backend_record(protocol::RecordRelay& relay, std::string_view line, std::string& out) {
    if (!relay.relay(line, out)) return LineEventKind::NotARecord;
    if (const auto& key = relay.answered_key()) {
        out += '\n';
        out += *key;
    }
    return LineEventKind::Record;
}

RecordText split_record_text(std::string_view text) {
    const std::size_t split = text.find('\n');
    if (split == std::string_view::npos) return {text, {}};
    return {text.substr(0, split), text.substr(split + 1)};
}

}  // namespace quern::io
