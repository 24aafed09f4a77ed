#include <gtest/gtest.h>

#include <thread>

#include "json/parse.hpp"
#include "json/write.hpp"
#include "line_source.hpp"
#include "request/backend_input_queue.hpp"
#include "request/backend_input_writer.hpp"
#include "request/forwarded_request.hpp"

namespace quern::request {
namespace {

using namespace std::chrono_literals;

json::Value number(std::uint64_t n) { return json::Value::from_unsigned(n); }

TEST(BackendInputQueue, RefusesTheThirtyThirdValueAsFull) {
    auto [sender, receiver] = make_backend_input_queue();
    for (std::uint64_t i = 0; i < 32; ++i) EXPECT_EQ(sender.offer(number(i)), Offer::Queued);
    EXPECT_EQ(sender.offer(number(32)), Offer::Full);
    EXPECT_EQ(offer_refusal_text(Offer::Full), "sending on a full channel");
    EXPECT_EQ(*receiver.receive(), number(0));
    EXPECT_EQ(sender.offer(number(33)), Offer::Queued);
}

TEST(BackendInputQueue, IsClosedForTheSenderOnceTheReceiverHasStopped) {
    auto [sender, receiver] = make_backend_input_queue();
    receiver.close();
    EXPECT_EQ(sender.offer(number(1)), Offer::Closed);
    EXPECT_EQ(offer_refusal_text(Offer::Closed), "sending on a closed channel");
}

TEST(BackendInputQueue, TheReceiverGetsWhatWasQueuedThenTheEnd) {
    auto [sender, receiver] = make_backend_input_queue();
    std::thread consumer([&receiver = receiver] {
        EXPECT_EQ(*receiver.receive(), number(1));
        EXPECT_EQ(*receiver.receive(), number(2));
        EXPECT_FALSE(receiver.receive().has_value());
    });
    EXPECT_EQ(sender.offer(number(1)), Offer::Queued);
    EXPECT_EQ(sender.offer(number(2)), Offer::Queued);
    sender.close();
    consumer.join();
}

struct WriterFixture : ::testing::Test {
    platform::Pipe pipe = std::move(platform::create_pipe()).value();
    std::pair<BackendInputSender, BackendInputReceiver> queue = make_backend_input_queue();
    std::pair<EventProducer, EventConsumer> events = make_event_queue();

    void start_writer() {
        start_backend_input_writer(std::move(queue.second), std::move(pipe.write), std::move(events.first));
    }
};

TEST_F(WriterFixture, WritesEachValueAsOneCompactLineAndClosesThePipeAtTheEnd) {
    start_writer();
    BackendInputSender& sender = queue.first;
    sender.offer(json::parse_json(R"({ "id" : 1, "command" : "status", "payload" : { "b":1, "a":[] } })").value());
    sender.offer(runtime_shutdown_record());
    json::Object big;
    big.set("blob", std::string(100000, 'z'));
    sender.offer(big);
    sender.close();
    testing::LineSource backend(std::move(pipe.read));
    EXPECT_EQ(backend.next(), R"({"command":"status","id":1,"payload":{"a":[],"b":1}})");
    EXPECT_EQ(backend.next(), R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})");
    EXPECT_EQ(backend.next(), json::to_compact_text(big));
    EXPECT_EQ(backend.next(), std::nullopt);  // end of input: the writer closed its end
    RuntimeEvent event;
    EXPECT_EQ(events.second.wait_for(30s, event), EventConsumer::Wait::Closed);
}

TEST_F(WriterFixture, AFailedWriteIsReportedOnceAndClosesTheQueue) {
    pipe.read.close();  // the backend is gone
    start_writer();
    BackendInputSender& sender = queue.first;
    EXPECT_EQ(sender.offer(number(1)), Offer::Queued);
    RuntimeEvent event;
    ASSERT_EQ(events.second.wait_for(30s, event), EventConsumer::Wait::Event);
    EXPECT_EQ(event.kind, LineEventKind::Failed);
    EXPECT_EQ(event.source, EventSource::BackendInputWriter);
#ifdef _WIN32
    EXPECT_NE(event.text.find(" (os error 232)"), std::string::npos) << event.text;
#else
    EXPECT_EQ(event.text, "Broken pipe (os error 32)");
#endif
    // The writer lets go of the queue before its producer handle.
    EXPECT_EQ(events.second.wait_for(30s, event), EventConsumer::Wait::Closed);
    EXPECT_EQ(sender.offer(number(2)), Offer::Closed);
}

}  // namespace
}  // namespace quern::request
