#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "json/parse.hpp"
#include "loop/state.hpp"
#include "loop_fixture.hpp"
#include "protocol/request.hpp"

namespace quern::loop {
namespace {

std::string key_of(std::string_view id_text) { return protocol::request_key(json::parse_json(id_text).value()); }

TEST(PendingRequests, DrainsInAscendingKeyBytes) {
    PendingRequests pending;
    for (std::string_view id : {"10", R"("b")", "9", R"("a")", "-1"}) {
        EXPECT_TRUE(pending.insert(key_of(id), false));
    }
    EXPECT_FALSE(pending.insert(key_of("10"), true));  // pending already: nothing changes
    pending.remove(key_of("9"));
    pending.remove(key_of("12345"));  // not pending: nothing happens
    std::vector<std::string> order;
    std::vector<bool> shutdowns;
    pending.drain([&](const PendingEntry& entry) {
        order.push_back(protocol::request_key(entry.id));
        shutdowns.push_back(entry.is_shutdown);
    });
    EXPECT_EQ(order, (std::vector<std::string>{R"("a")", R"("b")", "-1", "10"}));
    EXPECT_EQ(shutdowns, (std::vector<bool>{false, false, false, false}));
    EXPECT_TRUE(pending.empty());
}

using LoopRecords = LoopStepFixture;

TEST_F(LoopRecords, AFailedWriteMarksTheOutputUnhealthyForGood) {
    loop.write_record(json::Value("first"));
    EXPECT_TRUE(loop.state.frontend_output_healthy);
    output_ok = false;
    loop.write_record(json::Value("lost"));
    output_ok = true;
    loop.write_record(json::Value("written"));
    EXPECT_FALSE(loop.state.frontend_output_healthy);
    EXPECT_EQ(records, (std::vector<std::string>{R"("first")", R"("lost")", R"("written")"}));
}

TEST_F(LoopRecords, AFailureAsksTheBackendToStopOnceAndTheLatestMessageStands) {
    loop.fail("Backend stdout failed: first");
    clock = start + kLoopWait;
    loop.fail("Backend input failed: second");
    EXPECT_EQ(loop.state.failure_message, "Backend input failed: second");
    EXPECT_EQ(loop.state.shutdown_deadline, start + kShutdownGracePeriod);
    EXPECT_EQ(sent_to_backend(), (std::vector<std::string>{
                                     R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})"}));
    EXPECT_EQ(backend.terminations, 0);
    loop.fail_ending_tree("Runtime interrupted");
    EXPECT_EQ(loop.state.failure_message, "Runtime interrupted");
    EXPECT_EQ(backend.terminations, 1);
}

}  // namespace
}  // namespace quern::loop
