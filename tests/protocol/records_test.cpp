#include <gtest/gtest.h>

#include "json/write.hpp"
#include "protocol/records.hpp"

namespace quern::protocol {
namespace {

using json::to_compact_text;
using json::Value;

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
