#include <gtest/gtest.h>

#include <vector>

#include "json/write.hpp"
#include "request/enqueue_request.hpp"
#include "request/forwarded_request.hpp"

namespace quern::request {
namespace {

// The loop's side of the request path: its state, the backend input queue with
// the writer's end held here, and the records the front end would read.
struct EnqueueFixture : ::testing::Test {
    LoopState state;
    std::pair<BackendInputSender, BackendInputReceiver> queue = make_backend_input_queue();
    std::vector<std::string> records;
    output::RecordSink emit = [this](const json::Value& record) {
        records.push_back(json::to_compact_text(record));
        return true;
    };
    TimePoint now = TimePoint() + std::chrono::hours(1);

    void send(std::string_view line) {
        auto envelope = std::get<RequestEnvelope>(validate_request_line(line));
        enqueue_request(std::move(envelope), state, queue.first, emit, now);
    }
    // What the backend would be sent, in order.
    std::vector<std::string> queued() {
        std::vector<std::string> texts;
        queue.first.close();
        while (auto value = queue.second.receive()) texts.push_back(json::to_compact_text(*value));
        return texts;
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
    EXPECT_EQ(state.pending.size(), 2u);
    state.pending.remove(request_key(json::Value("7")));
    send(R"({"id":"7","command":"generate"})");
    EXPECT_EQ(records.size(), 1u);
    EXPECT_EQ(queued(), (std::vector<std::string>{R"({"command":"status","id":"7","payload":{}})",
                                                  R"({"command":"status","id":7,"payload":{}})",
                                                  R"({"command":"generate","id":"7","payload":{}})"}));
}

TEST_F(EnqueueFixture, AQueuedShutdownArmsTheDeadlineWithoutARecordOfItsOwn) {
    send(R"({"id":1,"command":"shutdown"})");
    ASSERT_TRUE(state.shutdown_deadline.has_value());
    EXPECT_EQ(*state.shutdown_deadline, now + std::chrono::seconds(75));
    EXPECT_TRUE(state.pending.contains("1"));
    begin_shutdown(state, queue.first, now + std::chrono::seconds(5));  // e.g. stdin ends afterwards
    EXPECT_EQ(*state.shutdown_deadline, now + std::chrono::seconds(75));
    send(R"({"id":2,"command":"status"})");
    EXPECT_EQ(records, (std::vector<std::string>{refusal("Runtime is shutting down", "2")}));
    EXPECT_EQ(queued(), (std::vector<std::string>{R"({"command":"shutdown","id":1,"payload":{}})"}));
    EXPECT_FALSE(state.failure_message.has_value());
}

TEST_F(EnqueueFixture, BeginShutdownSendsOneRecordAndKeepsTheFirstDeadline) {
    begin_shutdown(state, queue.first, now);
    begin_shutdown(state, queue.first, now + std::chrono::seconds(1));
    EXPECT_EQ(*state.shutdown_deadline, now + std::chrono::seconds(75));
    send(R"({"id":"__runtime_shutdown__","command":"status"})");
    EXPECT_EQ(records, (std::vector<std::string>{refusal("Runtime is shutting down", "\"__runtime_shutdown__\"")}));
    EXPECT_EQ(queued(), (std::vector<std::string>{R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})"}));
}

TEST_F(EnqueueFixture, AFullQueueRefusesTheRequestAndAShutdownThenBeginsTheRuntimesOwn) {
    for (int i = 0; i < 32; ++i) send(R"({"id":)" + std::to_string(i) + R"(,"command":"status"})");
    send(R"({"id":32,"command":"status"})");
    EXPECT_EQ(records.back(), refusal("Cannot queue backend request: sending on a full channel", "32"));
    EXPECT_FALSE(state.shutting_down());
    send(R"({"id":"s","command":"shutdown"})");
    EXPECT_EQ(records.back(), refusal("Cannot queue backend request: sending on a full channel", "\"s\""));
    EXPECT_TRUE(state.shutting_down());  // armed even though its own record found no room
    EXPECT_FALSE(state.pending.contains("\"s\""));
    EXPECT_EQ(state.pending.size(), 32u);
    EXPECT_EQ(queued().size(), 32u);
}

TEST_F(EnqueueFixture, AClosedQueueIsAFailureThatBeginsTheShutdown) {
    queue.second.close();
    send(R"({"id":1,"command":"status"})");
    send(R"({"id":2,"command":"status"})");
    EXPECT_EQ(records, (std::vector<std::string>{
                           refusal("Cannot queue backend request: sending on a closed channel", "1"),
                           refusal("Runtime is shutting down", "2")}));
    EXPECT_EQ(state.failure_message, "Backend input writer stopped");
    EXPECT_TRUE(state.shutting_down());
    EXPECT_TRUE(state.pending.empty());
}

TEST_F(EnqueueFixture, AFailedRefusalClearsTheHealthyFlag) {
    emit = [](const json::Value&) { return false; };
    begin_shutdown(state, queue.first, now);
    send(R"({"id":1,"command":"status"})");
    EXPECT_FALSE(state.frontend_output_healthy);
}

}  // namespace
}  // namespace quern::request
