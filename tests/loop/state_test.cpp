#include <gtest/gtest.h>

#include "json/parse.hpp"
#include "request/forwarded_request.hpp"
#include "request/pending_requests.hpp"
#include "json/write.hpp"

namespace quern::request {
namespace {

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

TEST(PendingRequests, DrainsInAscendingKeyBytes) {
    PendingRequests pending;
    for (std::string_view id : {"10", R"("b")", "9", R"("a")", "-1"}) {
        json::Value value = json::parse_json(id).value();
        pending.insert(request_key(value), PendingEntry{value, false});
    }
    pending.remove(key_of("9"));
    pending.remove(key_of("12345"));  // not pending: nothing happens
    std::vector<std::string> order;
    for (const PendingEntry& entry : pending.drain()) order.push_back(request_key(entry.id));
    EXPECT_EQ(order, (std::vector<std::string>{R"("a")", R"("b")", "-1", "10"}));
    EXPECT_TRUE(pending.empty());
}

std::string forwarded(std::string_view line) {
    auto outcome = validate_request_line(line);
    return json::to_compact_text(forwarded_request(std::get<RequestEnvelope>(outcome)));
}

TEST(ForwardedRequest, IsRewrittenCanonicallyWithOnlyItsOwnKeys) {
    EXPECT_EQ(forwarded(R"({"command":"status","id":1})"), R"({"command":"status","id":1,"payload":{}})");
    EXPECT_EQ(forwarded(R"({ "payload" : {"b": 1, "a": 2}, "id" : "x", "command" : "generate" })"),
              R"({"command":"generate","id":"x","payload":{"a":2,"b":1}})");
    EXPECT_EQ(forwarded(R"({"id":1,"command":"status","session":null})"),
              R"({"command":"status","id":1,"payload":{},"session":null})");
    EXPECT_EQ(forwarded(R"({"id":1e0,"command":"cancel","payload":{"n":1.50,"s":"\u00e9\/"}})"),
              "{\"command\":\"cancel\",\"id\":1.0,\"payload\":{\"n\":1.5,\"s\":\"\xC3\xA9/\"}}");
}

TEST(ForwardedRequest, TheRuntimeShutdownRecordIsFixed) {
    EXPECT_EQ(json::to_compact_text(runtime_shutdown_record()),
              R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})");
}

}  // namespace
}  // namespace quern::request
