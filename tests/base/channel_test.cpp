#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/event_queue.hpp"

namespace quern {
namespace {

using namespace std::chrono_literals;
using Wait = EventConsumer::Wait;

RuntimeEvent line(std::string text, EventSource source) {
    return RuntimeEvent{LineEventKind::Line, std::move(text), source};
}

TEST(EventQueue, ReportsClosedOnlyOnceEveryProducerIsGoneAndTheQueueIsEmpty) {
    auto [first, consumer] = make_event_queue();
    EventProducer second = first.another();
    RuntimeEvent event;
    EXPECT_EQ(consumer.wait_for(1ms, event), Wait::TimedOut);
    EXPECT_TRUE(first.send(line("a", EventSource::BackendStdout)));
    first.release();
    EXPECT_TRUE(second.send(line("b", EventSource::BackendStderr)));
    second.release();
    ASSERT_EQ(consumer.wait_for(1ms, event), Wait::Event);
    EXPECT_EQ(event.text, "a");
    ASSERT_EQ(consumer.wait_for(1ms, event), Wait::Event);
    EXPECT_EQ(event.source, EventSource::BackendStderr);
    EXPECT_EQ(consumer.wait_for(10s, event), Wait::Closed);
    EXPECT_EQ(consumer.wait_for(10s, event), Wait::Closed);
}

TEST(EventQueue, SendingFailsOnceTheConsumerIsGone) {
    auto [producer, consumer] = make_event_queue();
    consumer.release();
    EXPECT_FALSE(producer.send(line("lost", EventSource::RuntimeStdin)));
}

TEST(EventQueue, EventsFromEachThreadKeepTheirOrder) {
    auto [seed, consumer] = make_event_queue();
    constexpr int kPerThread = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([producer = seed.another(), t]() mutable {
            for (int i = 0; i < kPerThread; ++i) {
                producer.send(line(std::to_string(i), static_cast<EventSource>(t)));
            }
        });
    }
    seed.release();
    std::vector<int> next(4, 0);
    RuntimeEvent event;
    while (consumer.wait_for(10s, event) == Wait::Event) {
        const auto t = static_cast<std::size_t>(event.source);
        EXPECT_EQ(event.text, std::to_string(next[t]));
        ++next[t];
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(next, std::vector<int>(4, kPerThread));
}

}  // namespace
}  // namespace quern
