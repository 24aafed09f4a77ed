#include "protocol/request.hpp"

#include "json/parse.hpp"
#include "json/write.hpp"
#include "protocol/command_table.hpp"

namespace quern::protocol {

namespace {

constexpr std::size_t kMinSessionBytes = 16;
constexpr std::size_t kMaxSessionBytes = 256;

bool is_envelope_key(std::string_view key) {
    return key == "id" || key == "command" || key == "payload" || key == "session";
}

bool is_valid_session(const json::Value& session) {
    if (session.is_null()) return true;
    if (!session.is_string()) return false;
    const std::size_t bytes = session.as_string().size();
    return bytes >= kMinSessionBytes && bytes <= kMaxSessionBytes;
}

// Checks from the first one that can echo the id on: command, payload, session.
// The parsed request is given up to the envelope: its payload moves, not copies.
std::variant<RequestEnvelope, Refusal> check_body(json::Object& request, json::Value id) {
    const json::Value* command = request.find("command");
    if (command == nullptr || !command->is_string()) {
        return Refusal{std::move(id), "Request command must be a string"};
    }
    if (!is_allowed_command(command->as_string())) {
        return Refusal{std::move(id),
                       "Unknown command; use a supported Quern training or generation command"};
    }
    json::Value* payload = request.find("payload");
    if (payload != nullptr && !payload->is_object()) {
        return Refusal{std::move(id), "Request payload must be a JSON object"};
    }
    json::Value* session = request.find("session");
    if (session != nullptr && !is_valid_session(*session)) {
        return Refusal{std::move(id), "Invalid session envelope"};
    }
    RequestEnvelope envelope{std::move(id), command->as_string(),
                             payload ? std::move(payload->as_object()) : json::Object(), std::nullopt};
    if (session != nullptr) envelope.session = std::move(*session);
    return envelope;
}

}  // namespace

std::variant<RequestEnvelope, Refusal> validate_request_line(std::string_view line) {
    base::Result<json::Value> parsed = json::parse_json(line);
    if (!parsed.ok()) return Refusal{json::Value(), "Malformed request JSON: " + parsed.error()};
    if (!parsed.value().is_object()) return Refusal{json::Value(), "Request must be a JSON object"};
    json::Object& request = parsed.value().as_object();
    for (const json::Member& member : request) {
        if (!is_envelope_key(member.key)) return Refusal{json::Value(), "Unknown request envelope field"};
    }
    const json::Value* id = request.find("id");
    if (id == nullptr || !(id->is_string() || id->is_number())) {
        return Refusal{json::Value(), "Request id must be a string or number"};
    }
    return check_body(request, *id);
}

std::string request_key(const json::Value& id) { return json::to_compact_text(id); }

// The members are written in key order, as every object's are: command, id,
// payload, session.
std::string forwarded_request(RequestEnvelope envelope) {
    std::string text = R"({"command":)";
    json::append_compact_string(envelope.command, text);
    text += R"(,"id":)";
    json::append_compact(envelope.id, text);
    text += R"(,"payload":)";
    json::append_compact(json::Value(std::move(envelope.payload)), text);
    if (envelope.session) {
        text += R"(,"session":)";
        json::append_compact(*envelope.session, text);
    }
    text += '}';
    return text;
}

std::string runtime_shutdown_record() {
    RequestEnvelope shutdown{json::Value(kRuntimeShutdownId), "shutdown", json::Object(), std::nullopt};
    return forwarded_request(std::move(shutdown));
}

}  // namespace quern::protocol
