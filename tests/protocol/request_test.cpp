#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "json/parse.hpp"
#include "json/write.hpp"
#include "protocol/command_table.hpp"
#include "protocol/records.hpp"
#include "protocol/request.hpp"

namespace quern::protocol {
namespace {

// The error response a line gets, as the front end reads it; "" when accepted.
std::string answer_to(std::string_view line) {
    auto outcome = validate_request_line(line);
    if (std::holds_alternative<RequestEnvelope>(outcome)) return "";
    Refusal& refusal = std::get<Refusal>(outcome);
    return json::to_compact_text(error_response(std::move(refusal.id), refusal.message));
}

std::string refusal(std::string_view message, std::string_view id_text) {
    return "{\"error\":\"" + std::string(message) + "\",\"id\":" + std::string(id_text) +
           ",\"ok\":false,\"type\":\"response\"}";
}

TEST(RequestValidation, EachStepHasItsMessageAndIdRule) {
    EXPECT_EQ(answer_to("{\"id\":1,"), refusal("Malformed request JSON: EOF while parsing an object at line 1 column 8", "null"));
    EXPECT_EQ(answer_to("[1]"), refusal("Request must be a JSON object", "null"));
    EXPECT_EQ(answer_to(R"({"id":1,"command":"status","extra":0})"), refusal("Unknown request envelope field", "null"));
    EXPECT_EQ(answer_to(R"({"id":true,"command":"status"})"), refusal("Request id must be a string or number", "null"));
    EXPECT_EQ(answer_to(R"({"command":"status"})"), refusal("Request id must be a string or number", "null"));
    EXPECT_EQ(answer_to(R"({"id":"a","command":7})"), refusal("Request command must be a string", "\"a\""));
    EXPECT_EQ(answer_to(R"({"id":2})"), refusal("Request command must be a string", "2"));
    EXPECT_EQ(answer_to(R"({"id":-1.5,"command":"STATUS"})"),
              refusal("Unknown command; use a supported Quern training or generation command", "-1.5"));
    EXPECT_EQ(answer_to(R"({"id":1,"command":"status","payload":null})"),
              refusal("Request payload must be a JSON object", "1"));
    EXPECT_EQ(answer_to(R"({"id":1,"command":"status","payload":[]})"),
              refusal("Request payload must be a JSON object", "1"));
    EXPECT_EQ(answer_to(R"({"id":1,"command":"status","session":7})"), refusal("Invalid session envelope", "1"));
}

TEST(RequestValidation, NumbersInRangeAreAcceptedHoweverTheyAreSpelled) {
    EXPECT_EQ(answer_to(R"({"id":0e400,"command":"status","payload":{"x":-1e-999}})"), "");
    auto accepted = std::get<RequestEnvelope>(validate_request_line(R"({"id":0e400,"command":"status"})"));
    EXPECT_EQ(forwarded_request(std::move(accepted)), R"({"command":"status","id":0.0,"payload":{}})");
}

TEST(RequestValidation, AnUnknownKeyIsRefusedBeforeAnythingElseIsLookedAt) {
    EXPECT_EQ(answer_to(R"({"x":1})"), refusal("Unknown request envelope field", "null"));
    EXPECT_EQ(answer_to(R"({})"), refusal("Request id must be a string or number", "null"));
}

TEST(RequestValidation, BlankLinesAreMalformedNotSkipped) {
    EXPECT_EQ(answer_to(""), refusal("Malformed request JSON: EOF while parsing a value at line 1 column 0", "null"));
}

TEST(RequestValidation, SessionLengthIsCountedInBytes) {
    auto with_session = [](const std::string& session) {
        return answer_to(R"({"id":1,"command":"status","session":")" + session + "\"}");
    };
    EXPECT_EQ(with_session(std::string(15, 's')), refusal("Invalid session envelope", "1"));
    EXPECT_EQ(with_session(std::string(16, 's')), "");
    EXPECT_EQ(with_session(std::string(256, 's')), "");
    EXPECT_EQ(with_session(std::string(257, 's')), refusal("Invalid session envelope", "1"));
    EXPECT_EQ(with_session(std::string(8, 's') + "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"), "");  // 12 characters, 16 bytes
    EXPECT_EQ(answer_to(R"({"id":1,"command":"status","session":null})"), "");
}

TEST(RequestValidation, TheAcceptedEnvelopeKeepsTheLastDuplicateAndDefaultsThePayload) {
    auto outcome = validate_request_line(R"({"id":1,"id":2,"command":"status"})");
    ASSERT_TRUE(std::holds_alternative<RequestEnvelope>(outcome));
    const auto& envelope = std::get<RequestEnvelope>(outcome);
    EXPECT_EQ(envelope.id, json::Value::from_unsigned(2));
    EXPECT_EQ(envelope.command, "status");
    EXPECT_TRUE(envelope.payload.empty());
    EXPECT_FALSE(envelope.session.has_value());
}

TEST(CommandTable, HoldsEachCommandOnce) {
    std::set<std::string_view> unique(kCommandTable.begin(), kCommandTable.end());
    EXPECT_EQ(unique.size(), kCommandTable.size());
    EXPECT_EQ(kCommandTable.front(), "voice_status");
    EXPECT_EQ(kCommandTable[9], "shutdown");
    EXPECT_EQ(kCommandTable.back(), "account_memory_summary_delete");
    for (std::string_view command : kCommandTable) EXPECT_TRUE(is_allowed_command(command));
    EXPECT_FALSE(is_allowed_command("Status"));
    EXPECT_FALSE(is_allowed_command("status "));
    EXPECT_FALSE(is_allowed_command(""));
    EXPECT_FALSE(is_allowed_command(std::string_view("status\0", 7)));
}

std::string key_of(std::string_view id_text) { return request_key(json::parse_json(id_text).value()); }

TEST(RequestKey, StringAndNumberIdsNeverShareAKey) {
    EXPECT_EQ(key_of(R"("7")"), R"("7")");
    EXPECT_EQ(key_of("7"), "7");
    EXPECT_EQ(key_of("7.0"), "7.0");
    EXPECT_NE(key_of(R"("7")"), key_of("7"));
    EXPECT_NE(key_of("7"), key_of("7.0"));
}

TEST(RequestKey, StringsThatDecodeAlikeShareAKey) {
    EXPECT_EQ(key_of(R"("a/b")"), key_of(R"("a\/b")"));
    EXPECT_EQ(key_of(R"("\u0061")"), key_of(R"("a")"));
    EXPECT_EQ(key_of("1.50"), key_of("1.5"));
}

std::string forwarded(std::string_view line) {
    auto outcome = validate_request_line(line);
    return forwarded_request(std::get<RequestEnvelope>(outcome));
}

TEST(ForwardedRequest, IsRewrittenCanonicallyWithOnlyItsOwnKeys) {
    EXPECT_EQ(forwarded(R"({"command":"status","id":1})"), R"({"command":"status","id":1,"payload":{}})");
    EXPECT_EQ(forwarded(R"({ "payload" : {"b": 1, "a": 2}, "id" : "x", "command" : "generate" })"),
              R"({"command":"generate","id":"x","payload":{"a":2,"b":1}})");
    EXPECT_EQ(forwarded(R"({"id":1,"command":"status","session":null})"),
              R"({"command":"status","id":1,"payload":{},"session":null})");
    EXPECT_EQ(forwarded(R"({"id":1e0,"command":"cancel","payload":{"n":1.50,"s":"\u00e9\/"}})"),
              "{\"command\":\"cancel\",\"id\":1.0,\"payload\":{\"n\":1.5,\"s\":\"\xC3\xA9/\"}}");
    // A session of every byte that needs an escape, and an id that is a string.
    EXPECT_EQ(forwarded(R"({"id":"\"q\"","command":"status","session":"a\"b\\c\nd\u0001efghijklmnop"})"),
              R"({"command":"status","id":"\"q\"","payload":{},"session":"a\"b\\c\nd\u0001efghijklmnop"})");
}

TEST(ForwardedRequest, TheRuntimeShutdownRecordIsFixed) {
    EXPECT_EQ(runtime_shutdown_record(), R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})");
}

// The intake's faster road must end where the exact path does, for every line.
TEST(RequestIntake, GivesWhatTheExactPathGivesForEveryLine) {
    const std::vector<std::string> lines = {
        R"({"id":1,"command":"status"})",
        R"( { "command" : "generate" , "id" : "g" , "payload" : { "b" : [1, 2.50], "a" : null } } )",
        R"({"id":1,"command":"\u0073tatus"})",
        R"({"id":1,"id":"second","command":"status"})",
        R"({"id":-0,"command":"shutdown","payload":{}})",
        R"({"id":1e400,"command":"status"})",
        R"({"id":123456789012345678901234567890,"command":"status"})",
        R"({"id":1,"command":"status","session":null})",
        R"({"id":1,"command":"status","session":"sixteen-bytes-ok"})",
        R"({"id":1,"command":"status","session":"fifteen-bytes!!"})",
        R"({"id":1,"command":"status","session":"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"})",
        R"({"id":1,"command":"status","session":"a\"b\\c\nd\u0001efghijklmnop"})",
        R"({"id":1,"command":"status","session":7})",
        R"({"id":1,"command":"status","payload":[]})",
        R"({"id":2,"command":"generate","payload":{"text":")" + std::string(2000, 't') + R"("}})",
        R"({"id":1,"command":"stat\"us"})",
        R"({"id":1,"command":"nope"})",
        R"({"id":1,"command":7})",
        R"({"id":true,"command":"status"})",
        R"({"command":"status"})",
        R"({"id":1,"command":"status","extra":1})",
        R"([{"id":1,"command":"status"}])",
        R"({"id":1,"command":"status")",
        "",
    };
    RequestIntake intake;
    for (const std::string& line : lines) {
        std::string exact;
        auto outcome = validate_request_line(line);
        if (auto* envelope = std::get_if<RequestEnvelope>(&outcome)) {
            const std::string key = request_key(envelope->id);
            const bool is_shutdown = envelope->command == "shutdown";
            exact = "accepted " + forwarded_request(std::move(*envelope)) + " key " + key +
                    (is_shutdown ? " shutdown" : "");
        } else {
            const Refusal& refusal = std::get<Refusal>(outcome);
            exact = "refused " + json::to_compact_text(refusal.id) + " " + refusal.message;
        }
        std::string given;
        auto checked = intake.check(line);
        if (auto* accepted = std::get_if<AcceptedRequest>(&checked)) {
            given = "accepted " + accepted->text + " key " + accepted->key + (accepted->is_shutdown ? " shutdown" : "");
            EXPECT_EQ(json::to_compact_text(id_of_key(accepted->key)), accepted->key) << line;
            // It waits in the writer's queue: it must not hold twice its size.
            EXPECT_LE(accepted->text.capacity(), accepted->text.size() + 32) << line;
        } else {
            const Refusal& refusal = std::get<Refusal>(checked);
            given = "refused " + json::to_compact_text(refusal.id) + " " + refusal.message;
        }
        EXPECT_EQ(given, exact) << line;
    }
}

}  // namespace
}  // namespace quern::protocol
