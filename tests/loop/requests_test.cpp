#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loop/requests.hpp"
#include "loop_fixture.hpp"
#include "protocol/request.hpp"

namespace quern::loop {
namespace {

using namespace std::chrono_literals;
using io::EventSource;
using io::LineEventKind;

// The loop's side of the request path: its state, the backend input channel
// with the writer's end held here, and the records the front end would read.
struct EnqueueFixture : LoopStepFixture {
    void send(std::string_view line) {
        enqueue_request(loop, std::get<protocol::AcceptedRequest>(protocol::RequestIntake().check(line)));
    }
    void stdin_event(LineEventKind kind, std::string text = {}) {
        handle_request_event(loop, io::StreamLine{kind, text});
    }
    static std::string refusal(std::string_view message, std::string_view id) {
        return "{\"error\":\"" + std::string(message) + "\",\"id\":" + std::string(id) +
               ",\"ok\":false,\"type\":\"response\"}";
    }
};

TEST_F(EnqueueFixture, AQueuedRequestIsPendingUntilItsKeyIsFreed) {
    send(R"({"id":"7","command":"status"})");
    send(R"({"id":7,"command":"status"})");
    send(R"({"id":"7","command":"generate"})");
    EXPECT_EQ(records, (std::vector<std::string>{refusal("Request id is already pending", "\"7\"")}));
    EXPECT_EQ(loop.state.pending.size(), 2u);
    loop.state.pending.remove(protocol::request_key(json::Value("7")));
    send(R"({"id":"7","command":"generate"})");
    EXPECT_EQ(records.size(), 1u);
    EXPECT_EQ(sent_to_backend(), (std::vector<std::string>{R"({"command":"status","id":"7","payload":{}})",
                                                           R"({"command":"status","id":7,"payload":{}})",
                                                           R"({"command":"generate","id":"7","payload":{}})"}));
}

TEST_F(EnqueueFixture, AQueuedShutdownArmsTheDeadlineWithoutARecordOfItsOwn) {
    send(R"({"id":1,"command":"shutdown"})");
    ASSERT_TRUE(loop.state.shutdown_deadline.has_value());
    EXPECT_EQ(*loop.state.shutdown_deadline, start + kShutdownGracePeriod);
    EXPECT_TRUE(loop.state.pending.contains("1"));
    clock = start + 5s;
    loop.begin_shutdown();  // e.g. stdin ends afterwards
    EXPECT_EQ(*loop.state.shutdown_deadline, start + kShutdownGracePeriod);
    send(R"({"id":2,"command":"status"})");
    EXPECT_EQ(records, (std::vector<std::string>{refusal("Runtime is shutting down", "2")}));
    EXPECT_EQ(sent_to_backend(), (std::vector<std::string>{R"({"command":"shutdown","id":1,"payload":{}})"}));
    EXPECT_FALSE(loop.state.failure_message.has_value());
}

TEST_F(EnqueueFixture, BeginShutdownSendsOneRecordAndKeepsTheFirstDeadline) {
    loop.begin_shutdown();
    clock = start + 1s;
    loop.begin_shutdown();
    EXPECT_EQ(*loop.state.shutdown_deadline, start + kShutdownGracePeriod);
    send(R"({"id":"__runtime_shutdown__","command":"status"})");
    EXPECT_EQ(records, (std::vector<std::string>{refusal("Runtime is shutting down", "\"__runtime_shutdown__\"")}));
    EXPECT_EQ(sent_to_backend(),
              (std::vector<std::string>{R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})"}));
}

TEST_F(EnqueueFixture, AFullChannelRefusesTheRequestAndAShutdownThenBeginsTheRuntimesOwn) {
    input.second.set_stalled(true);  // the writer is behind a full pipe
    for (int i = 0; i < 32; ++i) send(R"({"id":)" + std::to_string(i) + R"(,"command":"status"})");
    EXPECT_TRUE(records.empty());
    send(R"({"id":32,"command":"status"})");
    EXPECT_EQ(records.back(), refusal("Cannot queue backend request: sending on a full channel", "32"));
    EXPECT_FALSE(loop.state.shutting_down());
    send(R"({"id":"s","command":"shutdown"})");
    EXPECT_EQ(records.back(), refusal("Cannot queue backend request: sending on a full channel", "\"s\""));
    EXPECT_TRUE(loop.state.shutting_down());
    EXPECT_FALSE(loop.state.pending.contains("\"s\""));
    EXPECT_EQ(loop.state.pending.size(), 32u);
    // The runtime's own shutdown record takes the place beyond the capacity.
    const std::vector<std::string> sent = sent_to_backend();
    EXPECT_EQ(sent.size(), 33u);
    EXPECT_EQ(sent.back(), R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})");
}

TEST_F(EnqueueFixture, AClosedChannelIsAFailureThatBeginsTheShutdown) {
    input.second.close();
    send(R"({"id":1,"command":"status"})");
    send(R"({"id":2,"command":"status"})");
    EXPECT_EQ(records, (std::vector<std::string>{
                           refusal("Cannot queue backend request: sending on a closed channel", "1"),
                           refusal("Runtime is shutting down", "2")}));
    EXPECT_EQ(loop.state.failure_message, "Backend input writer stopped");
    EXPECT_TRUE(loop.state.shutting_down());
    EXPECT_TRUE(loop.state.pending.empty());
}

TEST_F(EnqueueFixture, AFailedRefusalClearsTheHealthyFlag) {
    output_ok = false;
    loop.begin_shutdown();
    send(R"({"id":1,"command":"status"})");
    EXPECT_FALSE(loop.state.frontend_output_healthy);
}

// The same world, with lines arriving as the stdin reader's events.
struct RequestEventFixture : EnqueueFixture {};

TEST_F(RequestEventFixture, ALineIsEitherRefusedWithOneAnswerOrHandedToTheBackend) {
    stdin_event(LineEventKind::Line, R"({"id":1,"command":"nope"})");
    EXPECT_EQ(records, (std::vector<std::string>{refusal(
                           "Unknown command; use a supported Quern training or generation command", "1")}));
    EXPECT_TRUE(loop.state.pending.empty());
    stdin_event(LineEventKind::Line, R"({"id":2,"command":"status"})");
    EXPECT_EQ(records.size(), 1u);
    EXPECT_TRUE(loop.state.pending.contains("2"));
    EXPECT_EQ(sent_to_backend(), (std::vector<std::string>{R"({"command":"status","id":2,"payload":{}})"}));
}

TEST_F(RequestEventFixture, AFailedAnswerToABadLineClearsTheHealthyFlag) {
    output_ok = false;
    stdin_event(LineEventKind::Line, "[]");
    EXPECT_EQ(records, (std::vector<std::string>{refusal("Request must be a JSON object", "null")}));
    EXPECT_FALSE(loop.state.frontend_output_healthy);
    EXPECT_FALSE(loop.state.shutting_down());
}

TEST_F(RequestEventFixture, UnreadableLinesGetTheirAnswersWithANullId) {
    stdin_event(LineEventKind::Oversized);
    stdin_event(LineEventKind::InvalidUtf8);
    EXPECT_EQ(records, (std::vector<std::string>{refusal("Request exceeds the 64 KiB limit", "null"),
                                                 refusal("Request must be UTF-8 JSON", "null")}));
    EXPECT_TRUE(loop.state.frontend_output_healthy);
    EXPECT_FALSE(loop.state.shutting_down());
}

}  // namespace
}  // namespace quern::loop
