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

bool is_valid_session_length(std::size_t bytes) { return bytes >= kMinSessionBytes && bytes <= kMaxSessionBytes; }

bool is_valid_session(const json::Value& session) {
    if (session.is_null()) return true;
    return session.is_string() && is_valid_session_length(session.as_string().size());
}

// The compact text of a string that needs no escapes is its bytes in quotes.
std::optional<std::string_view> plain_string(std::string_view compact) {
    if (compact.size() < 2 || compact.front() != '"' || compact.find('\\') != std::string_view::npos) {
        return std::nullopt;
    }
    return compact.substr(1, compact.size() - 2);
}

// The compact text of a forwarded request from its members' compact texts,
// in key order as every object's are: command, id, payload, session. It waits
// in the writer's queue, so it takes only the room it needs.
std::string forwarded_text(std::string_view command, std::string_view id, std::string_view payload,
                           std::optional<std::string_view> session) {
    constexpr std::string_view kCommand = R"({"command":)";
    constexpr std::string_view kId = R"(,"id":)";
    constexpr std::string_view kPayload = R"(,"payload":)";
    constexpr std::string_view kSession = R"(,"session":)";
    std::string text;
    text.reserve(kCommand.size() + command.size() + kId.size() + id.size() + kPayload.size() + payload.size() +
                 (session ? kSession.size() + session->size() : 0) + 1);
    text.append(kCommand).append(command).append(kId).append(id).append(kPayload).append(payload);
    if (session) text.append(kSession).append(*session);
    text += '}';
    return text;
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

std::string forwarded_request(RequestEnvelope envelope) {
    std::string command;
    json::append_compact_string(envelope.command, command);
    const std::string id = json::to_compact_text(envelope.id);
    const std::string payload = json::to_compact_text(json::Value(std::move(envelope.payload)));
    std::optional<std::string> session;
    if (envelope.session) session = json::to_compact_text(*envelope.session);
    return forwarded_text(command, id, payload, session ? std::optional<std::string_view>(*session) : std::nullopt);
}

std::string runtime_shutdown_record() {
    RequestEnvelope shutdown{json::Value(kRuntimeShutdownId), "shutdown", json::Object(), std::nullopt};
    return forwarded_request(std::move(shutdown));
}

json::Value id_of_key(std::string_view key) { return json::parse_json(key).value(); }

std::variant<AcceptedRequest, Refusal> RequestIntake::check(std::string_view line) {
    if (std::optional<AcceptedRequest> accepted = accept_plain(line)) return std::move(*accepted);
    std::variant<RequestEnvelope, Refusal> outcome = validate_request_line(line);
    if (RequestEnvelope* envelope = std::get_if<RequestEnvelope>(&outcome)) {
        AcceptedRequest accepted{{}, request_key(envelope->id), envelope->command == "shutdown"};
        accepted.text = forwarded_request(std::move(*envelope));
        return accepted;
    }
    return std::get<Refusal>(std::move(outcome));
}

// Declines (nullopt) whatever is not plainly accepted, without a word: the
// exact path decides it again, refusal or not.
std::optional<AcceptedRequest> RequestIntake::accept_plain(std::string_view line) {
    compact_.clear();
    if (!rewriter_.rewrite(line, compact_) || compact_.front() != '{') return std::nullopt;
    const std::optional<std::string_view> id = rewriter_.top_level_member("id");
    const std::optional<std::string_view> command_text = rewriter_.top_level_member("command");
    const std::optional<std::string_view> payload = rewriter_.top_level_member("payload");
    const std::optional<std::string_view> session = rewriter_.top_level_member("session");
    const std::size_t envelope_members = 2u + (payload ? 1u : 0u) + (session ? 1u : 0u);
    if (!id || !command_text || rewriter_.top_level_size() != envelope_members) return std::nullopt;
    if (id->front() != '"' && id->front() != '-' && !(id->front() >= '0' && id->front() <= '9')) return std::nullopt;
    const std::optional<std::string_view> command = plain_string(*command_text);
    if (!command || !is_allowed_command(*command)) return std::nullopt;
    if (payload && payload->front() != '{') return std::nullopt;
    if (session && *session != "null") {
        const std::optional<std::string_view> bytes = plain_string(*session);
        if (!bytes || !is_valid_session_length(bytes->size())) return std::nullopt;
    }
    return AcceptedRequest{forwarded_text(*command_text, *id, payload ? *payload : std::string_view("{}"), session),
                           std::string(*id), *command == "shutdown"};
}

}  // namespace quern::protocol
