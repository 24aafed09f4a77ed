#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "base/channel.hpp"

namespace quern::base {
namespace {

using namespace std::chrono_literals;
using Wait = Receiver<std::string>::Wait;

// A value that says which sender it came from and where in that sender's run.
struct Tagged {
    int sender = 0;
    int index = 0;
};

TEST(Channel, ReportsClosedOnlyOnceEverySenderIsGoneAndNothingIsLeft) {
    auto [first, receiver] = make_channel<std::string>();
    Sender<std::string> second = first.another();
    std::string value;
    EXPECT_EQ(receiver.receive_for(1ms, value), Wait::TimedOut);
    EXPECT_EQ(first.send("a"), SendResult::Sent);
    first.release();
    EXPECT_EQ(second.send("b"), SendResult::Sent);
    second.release();
    ASSERT_EQ(receiver.receive_for(1ms, value), Wait::Value);
    EXPECT_EQ(value, "a");
    ASSERT_EQ(receiver.receive_for(1ms, value), Wait::Value);
    EXPECT_EQ(value, "b");
    EXPECT_EQ(receiver.receive_for(10s, value), Wait::Closed);
    EXPECT_EQ(receiver.receive_for(10s, value), Wait::Closed);
}

TEST(Channel, SendingAnswersClosedOnceTheReceiverIsClosedEvenWithRoomLeft) {
    auto [sender, receiver] = make_channel<std::string>(32);
    EXPECT_EQ(sender.send("queued"), SendResult::Sent);
    receiver.close();
    EXPECT_EQ(sender.send("lost"), SendResult::Closed);
}

TEST(Channel, SendingAnswersClosedOnceTheReceiverIsDestroyed) {
    auto [sender, receiver] = make_channel<std::string>();
    { Receiver<std::string> gone = std::move(receiver); }
    EXPECT_EQ(sender.send("lost"), SendResult::Closed);
}

TEST(Channel, AReleasedSenderAnswersClosed) {
    auto [sender, receiver] = make_channel<std::string>();
    Sender<std::string> kept = sender.another();
    sender.release();
    EXPECT_EQ(sender.send("lost"), SendResult::Closed);
    EXPECT_EQ(kept.send("kept"), SendResult::Sent);
}

TEST(Channel, RefusesTheValueBeyondItsCapacityAsFullWhileTheReceiverIsStalled) {
    auto [sender, receiver] = make_channel<int>(32);
    receiver.set_stalled(true);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(sender.send(i), SendResult::Sent);
    EXPECT_EQ(sender.send(32), SendResult::Full);
    EXPECT_EQ(receiver.receive(), 0);
    EXPECT_EQ(sender.send(33), SendResult::Sent);
}

TEST(Channel, AReceiverThatIsNotStalledIsNeverBehind) {
    auto [sender, receiver] = make_channel<int>(2);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(sender.send(i), SendResult::Sent);
    receiver.set_stalled(true);
    EXPECT_EQ(sender.send(5), SendResult::Full);
    receiver.set_stalled(false);
    EXPECT_EQ(sender.send(6), SendResult::Sent);
}

TEST(Channel, ValuesTakenInABatchCountUntilTheReceiverBeginsOnThem) {
    auto [sender, receiver] = make_channel<int>(2);
    EXPECT_EQ(sender.send(1), SendResult::Sent);
    EXPECT_EQ(sender.send(2), SendResult::Sent);
    std::deque<int> batch{0};
    ASSERT_TRUE(receiver.receive_all(batch));
    EXPECT_EQ(batch, (std::deque<int>{0, 1, 2}));
    receiver.set_stalled(true);
    EXPECT_EQ(sender.send(3), SendResult::Full);
    receiver.begin_one_taken();
    EXPECT_EQ(sender.send(3), SendResult::Sent);
    EXPECT_EQ(sender.send(4), SendResult::Full);  // 2 still waits, and 3
    receiver.begin_one_taken();
    sender.release();
    batch.clear();
    ASSERT_TRUE(receiver.receive_all(batch));
    EXPECT_EQ(batch, (std::deque<int>{3}));
    EXPECT_FALSE(receiver.receive_all(batch));
}

TEST(Channel, AValueSentBeyondCapacityIsNeverRefusedAsFull) {
    auto [sender, receiver] = make_channel<int>(1);
    receiver.set_stalled(true);
    EXPECT_EQ(sender.send(1), SendResult::Sent);
    EXPECT_EQ(sender.send(2), SendResult::Full);
    EXPECT_EQ(sender.send_beyond_capacity(3), SendResult::Sent);
    EXPECT_EQ(receiver.receive(), 1);
    EXPECT_EQ(receiver.receive(), 3);
    receiver.close();
    EXPECT_EQ(sender.send_beyond_capacity(4), SendResult::Closed);
}

TEST(Channel, TheReceiverGetsWhatWasSentThenTheEnd) {
    auto [sender, receiver] = make_channel<int>(32);
    std::thread reading([&receiver = receiver] {
        EXPECT_EQ(receiver.receive(), 1);
        EXPECT_EQ(receiver.receive(), 2);
        EXPECT_FALSE(receiver.receive().has_value());
    });
    EXPECT_EQ(sender.send(1), SendResult::Sent);
    EXPECT_EQ(sender.send(2), SendResult::Sent);
    sender.release();
    reading.join();
}

TEST(Channel, ValuesFromEachThreadKeepTheirOrder) {
    auto [seed, receiver] = make_channel<Tagged>();
    constexpr int kSenders = 4;
    constexpr int kPerThread = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kSenders; ++t) {
        threads.emplace_back([sender = seed.another(), t]() mutable {
            for (int i = 0; i < kPerThread; ++i) (void)sender.send(Tagged{t, i});
        });
    }
    seed.release();
    std::vector<int> next(kSenders, 0);
    Tagged value;
    while (receiver.receive_for(10s, value) == Receiver<Tagged>::Wait::Value) {
        const auto t = static_cast<std::size_t>(value.sender);
        EXPECT_EQ(value.index, next[t]);
        ++next[t];
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(next, std::vector<int>(kSenders, kPerThread));
}

}  // namespace
}  // namespace quern::base
