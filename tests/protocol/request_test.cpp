#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "json/write.hpp"
#include "request/command_table.hpp"
#include "request/request_envelope.hpp"

namespace quern::request {
namespace {

// The error response a line gets, as the front end reads it; "" when accepted.
std::string answer_to(std::string_view line) {
    std::vector<json::Value> written;
    bool healthy = true;
    auto envelope = handle_request_line(
        line, [&](const json::Value& record) { written.push_back(record); return true; }, healthy);
    EXPECT_EQ(envelope.has_value(), written.empty());
    return written.empty() ? "" : json::to_compact_text(written.front());
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

TEST(RequestValidation, AFailedAnswerClearsTheHealthyFlag) {
    bool healthy = true;
    auto refused = handle_request_line("[]", [](const json::Value&) { return false; }, healthy);
    EXPECT_FALSE(refused.has_value());
    EXPECT_FALSE(healthy);
}

TEST(RequestValidation, UnreadableLinesGetTheirAnswersWithANullId) {
    std::vector<std::string> written;
    bool healthy = true;
    auto emit = [&](const json::Value& record) { written.push_back(json::to_compact_text(record)); return true; };
    answer_unreadable_request(kOversizedRequest, emit, healthy);
    answer_unreadable_request(kInvalidUtf8Request, emit, healthy);
    EXPECT_EQ(written, (std::vector<std::string>{refusal("Request exceeds the 64 KiB limit", "null"),
                                                 refusal("Request must be UTF-8 JSON", "null")}));
}

TEST(CommandTable, HoldsTheHundredAndSevenCommandsOnce) {
    std::set<std::string_view> unique(kCommandTable.begin(), kCommandTable.end());
    EXPECT_EQ(unique.size(), 107u);
    EXPECT_EQ(kCommandTable.front(), "voice_status");
    EXPECT_EQ(kCommandTable[9], "shutdown");
    EXPECT_EQ(kCommandTable.back(), "account_memory_summary_delete");
    for (std::string_view command : kCommandTable) EXPECT_TRUE(is_allowed_command(command));
    EXPECT_FALSE(is_allowed_command("Status"));
    EXPECT_FALSE(is_allowed_command("status "));
    EXPECT_FALSE(is_allowed_command(""));
    EXPECT_FALSE(is_allowed_command(std::string_view("status\0", 7)));
}

}  // namespace
}  // namespace quern::request
