// The front end's requests: any bytes on the runtime's standard input, cut by
// the bounded line reader at the request limit, validated, and either refused
// or forwarded to the backend.
//
// Each line is checked twice. As pure functions: validate_request_line gives
// exactly the outcome the refusal table of the protocol calls for (worked out
// here independently, check by check, from the parsed line), and an accepted
// request forwards as an envelope of only command, id, payload and session
// whose text re-parses to the same value. Through the loop's own request
// handler: each line yields exactly one outcome, one error response written or
// one request queued for the backend, as the loop's state (ids pending,
// shutting down) says it should.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz_support.hpp"
#include "io/events.hpp"
#include "json/parse.hpp"
#include "json/write.hpp"
#include "loop/requests.hpp"
#include "loop_world.hpp"
#include "protocol/command_table.hpp"
#include "protocol/records.hpp"
#include "protocol/request.hpp"

namespace quern::fuzz {
namespace {

using protocol::Refusal;
using protocol::RequestEnvelope;

// What a line should come to by the protocol's table: a refusal, or the
// request the backend is to receive.
struct Expected {
    std::optional<Refusal> refusal;
    json::Value forwarded;
};

bool is_envelope_key(std::string_view key) {
    return key == "command" || key == "id" || key == "payload" || key == "session";
}

Expected refuse(json::Value id, std::string message) { return {Refusal{std::move(id), std::move(message)}, {}}; }

Expected expected_outcome(std::string_view line) {
    base::Result<json::Value> parsed = json::parse_json(line);
    if (!parsed.ok()) return refuse({}, "Malformed request JSON: " + parsed.error());
    if (!parsed.value().is_object()) return refuse({}, "Request must be a JSON object");
    const json::Object& request = parsed.value().as_object();
    for (const json::Member& member : request) {
        if (!is_envelope_key(member.key)) return refuse({}, "Unknown request envelope field");
    }
    const json::Value* id = request.find("id");
    if (id == nullptr || !(id->is_number() || id->is_string())) {
        return refuse({}, "Request id must be a string or number");
    }
    const json::Value* command = request.find("command");
    if (command == nullptr || !command->is_string()) return refuse(*id, "Request command must be a string");
    if (!protocol::is_allowed_command(command->as_string())) {
        return refuse(*id, "Unknown command; use a supported Quern training or generation command");
    }
    const json::Value* payload = request.find("payload");
    if (payload != nullptr && !payload->is_object()) return refuse(*id, "Request payload must be a JSON object");
    const json::Value* session = request.find("session");
    if (session != nullptr && !session->is_null()) {
        const bool fits = session->is_string() && session->as_string().size() >= 16 &&
                          session->as_string().size() <= 256;
        if (!fits) return refuse(*id, "Invalid session envelope");
    }
    json::Object forwarded;
    forwarded.set("command", *command);
    forwarded.set("id", *id);
    forwarded.set("payload", payload != nullptr ? *payload : json::Value(json::Object()));
    if (session != nullptr) forwarded.set("session", *session);
    return {std::nullopt, std::move(forwarded)};
}

// The pure path: validation and forwarding as the protocol layer offers them.
void check_pure_path(std::string_view line, const Expected& expected) {
    if (line.empty()) {
        QUERN_FUZZ_CHECK(expected.refusal && expected.refusal->message ==
                                                 "Malformed request JSON: EOF while parsing a value at line 1 column 0",
                         expected.refusal ? expected.refusal->message : std::string("accepted"));
    }
    auto outcome = protocol::validate_request_line(line);
    if (expected.refusal) {
        const Refusal* refusal = std::get_if<Refusal>(&outcome);
        QUERN_FUZZ_CHECK(refusal != nullptr, "accepted, expected: " + expected.refusal->message);
        QUERN_FUZZ_CHECK(refusal->message == expected.refusal->message,
                         refusal->message + " / expected: " + expected.refusal->message);
        QUERN_FUZZ_CHECK(refusal->id == expected.refusal->id, json::to_compact_text(refusal->id));
        return;
    }
    RequestEnvelope* envelope = std::get_if<RequestEnvelope>(&outcome);
    QUERN_FUZZ_CHECK(envelope != nullptr, std::get<Refusal>(outcome).message);
    // One line to the backend, the compact text of the request it stands for.
    const std::string text = protocol::forwarded_request(std::move(*envelope));
    QUERN_FUZZ_CHECK(text.find('\n') == std::string::npos && text.find('\r') == std::string::npos, text);
    const base::Result<json::Value> reparsed = json::parse_json(text);
    QUERN_FUZZ_CHECK(reparsed.ok(), text + " / " + reparsed.error());
    const json::Value& forwarded = reparsed.value();
    QUERN_FUZZ_CHECK(json::to_compact_text(forwarded) == text, text);
    QUERN_FUZZ_CHECK(forwarded == expected.forwarded, text);
    QUERN_FUZZ_CHECK(forwarded.is_object(), text);
    const json::Object& request = forwarded.as_object();
    for (const json::Member& member : request) QUERN_FUZZ_CHECK(is_envelope_key(member.key), member.key);
    const json::Value* command = request.find("command");
    QUERN_FUZZ_CHECK(command != nullptr && command->is_string() && protocol::is_allowed_command(command->as_string()),
                     text);
    const json::Value* id = request.find("id");
    QUERN_FUZZ_CHECK(id != nullptr && (id->is_string() || id->is_number()), text);
    const json::Value* payload = request.find("payload");
    QUERN_FUZZ_CHECK(payload != nullptr && payload->is_object(), text);
}

// What the loop has promised so far, to tell what the next line must get.
struct LoopModel {
    std::set<std::string> pending;
    bool shutting_down = false;
};

// The loop path: one event to the request handler, and exactly one outcome.
void check_loop_path(LoopWorld& world, LoopModel& model, const io::LineResult& line,
                     const std::optional<Expected>& expected) {
    const std::size_t writes_before = world.writes.size();
    loop::handle_request_event(world.loop, io::StreamLine{line.kind, line.text});
    const std::vector<std::string> sent = world.take_sent();
    const std::size_t written = world.writes.size() - writes_before;
    QUERN_FUZZ_CHECK(world.notes.empty(), world.notes.front());

    // Nothing for the backend: exactly one error response, as one line.
    const auto expect_refusal = [&](const json::Value& id, std::string_view message) {
        QUERN_FUZZ_CHECK(sent.empty(), sent.front());
        QUERN_FUZZ_CHECK(written == 1, std::to_string(written) + " records for one line");
        const std::string wanted = json::to_compact_text(protocol::error_response(id, message)) + "\n";
        QUERN_FUZZ_CHECK(world.writes.back() == wanted, world.writes.back() + " / expected: " + wanted);
    };

    switch (line.kind) {
        case io::LineEventKind::Oversized: return expect_refusal({}, protocol::kOversizedRequest);
        case io::LineEventKind::InvalidUtf8: return expect_refusal({}, protocol::kInvalidUtf8Request);
        case io::LineEventKind::Line: break;
        case io::LineEventKind::Closed:
        case io::LineEventKind::Failed: QUERN_FUZZ_CHECK(false, "the reader ended inside the input");
    }
    if (expected->refusal) return expect_refusal(expected->refusal->id, expected->refusal->message);
    const json::Value& id = *expected->forwarded.as_object().find("id");
    const std::string key = protocol::request_key(id);
    if (model.shutting_down) return expect_refusal(id, "Runtime is shutting down");
    if (model.pending.count(key) != 0) return expect_refusal(id, "Request id is already pending");
    QUERN_FUZZ_CHECK(written == 0, world.writes.back());
    QUERN_FUZZ_CHECK(sent.size() == 1, std::to_string(sent.size()) + " values sent for one line");
    QUERN_FUZZ_CHECK(sent.front() == json::to_compact_text(expected->forwarded), sent.front());
    model.pending.insert(key);
    if (expected->forwarded.as_object().find("command")->as_string() == "shutdown") model.shutting_down = true;
    QUERN_FUZZ_CHECK(world.loop.state.pending.size() == model.pending.size(), key);
    QUERN_FUZZ_CHECK(world.loop.state.shutting_down() == model.shutting_down, key);
}

// The end of standard input asks the backend to stop, unless it already was.
void check_end_of_input(LoopWorld& world, const LoopModel& model, const io::LineResult& end) {
    const std::size_t writes_before = world.writes.size();
    loop::handle_request_event(world.loop, io::StreamLine{end.kind, end.text});
    const std::vector<std::string> sent = world.take_sent();
    QUERN_FUZZ_CHECK(world.writes.size() == writes_before, world.writes.back());
    QUERN_FUZZ_CHECK(world.loop.state.shutting_down(), "still running after the end of input");
    if (model.shutting_down) {
        QUERN_FUZZ_CHECK(sent.empty(), sent.front());
    } else {
        QUERN_FUZZ_CHECK(sent.size() == 1 && sent.front() == protocol::runtime_shutdown_record(),
                         std::to_string(sent.size()) + " values sent at the end of input");
    }
}

}  // namespace
}  // namespace quern::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quern;
    fuzz::ChunkedSource source(fuzz::as_text(data, size));
    const std::vector<io::LineResult> lines = fuzz::read_all_lines(source, protocol::kRequestLineLimit);
    fuzz::LoopWorld world;
    fuzz::LoopModel model;
    for (const io::LineResult& line : lines) {
        if (line.kind == io::LineEventKind::Closed || line.kind == io::LineEventKind::Failed) {
            fuzz::check_end_of_input(world, model, line);
            break;
        }
        std::optional<fuzz::Expected> expected;
        if (line.kind == io::LineEventKind::Line) {
            QUERN_FUZZ_CHECK(line.text.size() <= protocol::kRequestLineLimit, std::to_string(line.text.size()));
            expected = fuzz::expected_outcome(line.text);
            fuzz::check_pure_path(line.text, *expected);
        }
        fuzz::check_loop_path(world, model, line, expected);
    }
    return 0;
}
