#include "io/backend_records.hpp"

namespace quern::io {

Shaped shape_backend_record(protocol::RecordRelay& relay, std::string_view line, std::string& out) {
    if (!relay.relay(line, out)) return {};
    const auto& key = relay.answered_key();
    if (!key) return {true, 0};
    out += *key;
    return {true, static_cast<std::uint32_t>(key->size())};
}

ShapedLine shape_backend_line(protocol::RecordRelay& relay, std::string_view line, std::string& out) {
    out.clear();
    const Shaped shaped = shape_backend_record(relay, line, out);
    if (!shaped.is_record) return {};
    const std::string_view text = out;
    const std::size_t record_bytes = text.size() - shaped.key_bytes;
    return {true, text.substr(0, record_bytes), text.substr(record_bytes)};
}

}  // namespace quern::io
