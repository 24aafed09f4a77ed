#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "json/parse.hpp"
#include "json/write.hpp"
#include "protocol/record_relay.hpp"
#include "protocol/records.hpp"

namespace quern::protocol {
namespace {

using json::to_compact_text;
using json::Value;

// A backend line is a record when it is an object with a string "type". The
// relay takes most lines by their text and the rest by their parsed value, so
// the rule is held on both.
TEST(Records, OnlyAnObjectWithAStringTypeIsAProtocolRecord) {
    const std::vector<std::pair<std::string, bool>> lines = {
        {R"({"type":"progress"})", true}, {R"({"type":""})", true}, {R"({"type":"response","id":1})", true},
        {R"({"type":1})", false},         {R"({"type":null})", false}, {R"({"type":{"a":"b"}})", false},
        {R"({"type":["x"]})", false},     {R"({"type":true})", false}, {R"({"kind":"x"})", false},
        {R"(["type","x"])", false},       {R"("type")", false},
    };
    RecordRelay relay;
    for (const auto& [line, is_record] : lines) {
        const base::Result<Value> parsed = json::parse_json(line);
        ASSERT_TRUE(parsed.ok()) << line;
        EXPECT_EQ(is_protocol_record(parsed.value()), is_record) << "by value: " << line;
        std::string out;
        EXPECT_EQ(relay.relay(line, out).is_record, is_record) << "by text: " << line;
    }
}

TEST(Records, ErrorResponseHasExactlyItsFourFieldsInKeyOrder) {
    EXPECT_EQ(to_compact_text(error_response(Value::from_unsigned(7), "Request id is already pending")),
              R"({"error":"Request id is already pending","id":7,"ok":false,"type":"response"})");
    EXPECT_EQ(to_compact_text(error_response(Value("a"), "x")),
              R"({"error":"x","id":"a","ok":false,"type":"response"})");
}

TEST(Records, ErrorResponseWithoutAnIdStillCarriesANullId) {
    EXPECT_EQ(to_compact_text(error_response(Value(), "Request must be a JSON object")),
              R"({"error":"Request must be a JSON object","id":null,"ok":false,"type":"response"})");
}

TEST(Records, MessagesAreEscapedAndNonAsciiIsKept) {
    EXPECT_EQ(to_compact_text(error_response(Value(), "a\nb\tc\x01 \xC3\xA9")),
              "{\"error\":\"a\\nb\\tc\\u0001 \xC3\xA9\",\"id\":null,\"ok\":false,\"type\":\"response\"}");
}

TEST(Records, ShutdownResponseNestsItsResult) {
    EXPECT_EQ(to_compact_text(shutdown_response(Value::from_double(2.5))),
              R"({"id":2.5,"ok":true,"result":{"shutdown":true},"type":"response"})");
}

TEST(Records, FatalRecordPutsErrorBeforeType) {
    EXPECT_EQ(to_compact_text(fatal_record("Missing --project directory")),
              R"({"error":"Missing --project directory","type":"fatal"})");
}

}  // namespace
}  // namespace quern::protocol
