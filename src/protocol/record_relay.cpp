#include "protocol/record_relay.hpp"

#include "json/parse.hpp"
#include "json/write.hpp"
#include "protocol/records.hpp"
#include "protocol/request.hpp"

namespace quern::protocol {

namespace {

// The compact text of the string "response": whatever escapes the backend
// spelled it with, its compact text is this.
constexpr std::string_view kResponseText = "\"response\"";

}  // namespace

namespace {

RelayedRecord with_key(std::string& out, const std::string& key) {
    out += key;
    return {true, static_cast<std::uint32_t>(key.size())};
}

// The key is a part of out itself, which the room made first keeps in place.
RelayedRecord with_own_key(std::string& out, std::string_view key) {
    const auto offset = static_cast<std::size_t>(key.data() - out.data());
    out.reserve(out.size() + key.size());
    out.append(out.data() + offset, key.size());
    return {true, static_cast<std::uint32_t>(key.size())};
}

}  // namespace

RelayedRecord RecordRelay::relay(std::string_view line, std::string& out) {
    const std::size_t before = out.size();
    if (rewriter_.rewrite(line, out)) {
        const std::optional<std::string_view> type = rewriter_.top_level_member("type");
        if (!type || type->front() != '"') {
            out.resize(before);
            return {};
        }
        if (*type == kResponseText) {
            // The compact text of the id is its request key.
            if (const std::optional<std::string_view> id = rewriter_.top_level_member("id")) return with_own_key(out, *id);
        }
        return {true, 0};
    }
    // Anything the rewriter declines takes the parser's exact path.
    base::Result<json::Value> parsed = json::parse_json(line);
    if (!parsed.ok() || !is_protocol_record(parsed.value())) return {};
    json::append_compact(parsed.value(), out);
    const json::Object& record = parsed.value().as_object();
    if (record.find("type")->as_string() == "response") {
        if (const json::Value* id = record.find("id")) return with_key(out, request_key(*id));
    }
    return {true, 0};
}

}  // namespace quern::protocol
