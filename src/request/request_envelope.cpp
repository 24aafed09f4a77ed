#include "request/request_envelope.hpp"

#include "json/parse.hpp"
#include "output/records.hpp"
#include "request/command_table.hpp"

namespace quern::request {

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
    Result<json::Value> parsed = json::parse_json(line);
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

std::optional<RequestEnvelope> handle_request_line(std::string_view line,
                                                   const output::RecordSink& emit,
                                                   bool& output_healthy) {
    auto outcome = validate_request_line(line);
    if (auto* envelope = std::get_if<RequestEnvelope>(&outcome)) return std::move(*envelope);
    Refusal& refusal = std::get<Refusal>(outcome);
    const bool written = emit(output::error_response(std::move(refusal.id), refusal.message));
    output_healthy = output_healthy && written;
    return std::nullopt;
}

void answer_unreadable_request(std::string_view message, const output::RecordSink& emit,
                               bool& output_healthy) {
    const bool written = emit(output::error_response(json::Value(), message));
    output_healthy = output_healthy && written;
}

}  // namespace quern::request
