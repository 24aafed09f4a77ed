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

bool RecordRelay::relay(std::string_view line, std::string& out) {
    answered_key_.reset();
    const std::size_t before = out.size();
    if (rewriter_.rewrite(line, out)) {
        const std::optional<std::string_view> type = rewriter_.top_level_member("type");
        if (!type || type->front() != '"') {
            out.resize(before);
            return false;
        }
        if (*type == kResponseText) {
            if (const std::optional<std::string_view> id = rewriter_.top_level_member("id")) {
                answered_key_.emplace(*id);  // the compact text of the id is its request key
            }
        }
        return true;
    }
    // Anything the rewriter declines takes the parser's exact path.
    base::Result<json::Value> parsed = json::parse_json(line);
    if (!parsed.ok() || !is_protocol_record(parsed.value())) return false;
    const json::Object& record = parsed.value().as_object();
    if (record.find("type")->as_string() == "response") {
        if (const json::Value* id = record.find("id")) answered_key_ = request_key(*id);
    }
    json::append_compact(parsed.value(), out);
    return true;
}

}  // namespace quern::protocol
