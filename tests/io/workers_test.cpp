#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <deque>
#include <thread>
#include <vector>

#include "io/workers.hpp"
#include "json/parse.hpp"
#include "json/write.hpp"
#include "loop/timings.hpp"
#include "line_source.hpp"
#include "platform/handle.hpp"
#include "platform/this_process.hpp"
#include "support/waits.hpp"

namespace quern::io {
namespace {

using namespace std::chrono_literals;

// The readers' limit does not matter here: every line is far below it.
constexpr std::size_t kLineLimit = 65536;

platform::Pipe make_pipe() {
    auto pipe = platform::create_pipe();
    EXPECT_TRUE(pipe.ok());
    return std::move(pipe).value();
}

// One line of an event, kept after the event is gone.
struct ReceivedLine {
    LineEventKind kind = LineEventKind::Closed;
    std::string text;
    EventSource source = EventSource::RuntimeStdin;
};

std::vector<ReceivedLine> lines_of(const RuntimeEvent& event) {
    std::vector<ReceivedLine> lines;
    event.for_each([&](const StreamLine& line) { lines.push_back({line.kind, std::string(line.text), event.source()}); });
    return lines;
}

// The lines of the events received, one at a time, however they were batched.
class Lines {
public:
    explicit Lines(EventReceiver& events) : events_(events) {}
    ReceivedLine next() {
        while (queued_.empty()) {
            RuntimeEvent event;
            if (events_.receive_for(testing::kPromptWait, event) != EventReceiver::Wait::Value) {
                ADD_FAILURE() << "no more lines";
                return {};
            }
            for (ReceivedLine& line : lines_of(event)) queued_.push_back(std::move(line));
        }
        ReceivedLine line = std::move(queued_.front());
        queued_.pop_front();
        return line;
    }

private:
    EventReceiver& events_;
    std::deque<ReceivedLine> queued_;
};

TEST(ReaderThread, SendsEachLineThenClosedOverARealPipe) {
    platform::Pipe pipe = make_pipe();
    auto [sender, events] = base::make_channel<RuntimeEvent>();
    start_line_reader(std::make_unique<HandleByteSource>(std::move(pipe.read)), kLineLimit,
                      EventSource::BackendStdout, std::move(sender));
    ASSERT_TRUE(platform::write_all(pipe.write.native(), "one\r\n\xFF\ntwo").ok());
    pipe.write.close();
    Lines lines(events);
    ReceivedLine line = lines.next();
    EXPECT_EQ(line.kind, LineEventKind::Line);
    EXPECT_EQ(line.text, "one");
    EXPECT_EQ(line.source, EventSource::BackendStdout);
    EXPECT_EQ(lines.next().kind, LineEventKind::InvalidUtf8);
    EXPECT_EQ(lines.next().text, "two");
    EXPECT_EQ(lines.next().kind, LineEventKind::Closed);
    // The reader has let go of its sender.
    RuntimeEvent none;
    EXPECT_EQ(events.receive_for(testing::kPromptWait, none), EventReceiver::Wait::Closed);
}

// Lines without end, counting what the reader took.
class EndlessLines final : public ByteSource {
public:
    platform::ReadOutcome read(char* buffer, std::size_t capacity) override {
        static constexpr std::string_view kLine = "{\"type\":\"event\",\"pad\":\"................................\"}\n";
        for (std::size_t i = 0; i < capacity; ++i) buffer[i] = kLine[(served + i) % kLine.size()];
        served += capacity;
        return {platform::ReadOutcome::Kind::Data, capacity, 0};
    }
    std::atomic<std::size_t> served{0};
};

// A loop that is busy (its front end not reading) leaves its events waiting;
// the reader must stop taking bytes, so the writer's pipe pushes back.
TEST(ReaderThread, StopsReadingWhileItsBacklogIsFullAndGoesOnWhenTheLoopCatchesUp) {
    auto source = std::make_unique<EndlessLines>();
    EndlessLines& lines = *source;
    auto [sender, events] = base::make_channel<RuntimeEvent>();
    start_line_reader(std::move(source), kLineLimit, EventSource::BackendStdout, std::move(sender));
    // Unbounded, the reader would take this much in a few milliseconds.
    constexpr std::size_t kFarBeyondTheBacklog = 64u << 20;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < deadline && lines.served < kFarBeyondTheBacklog) {
        std::this_thread::sleep_for(10ms);
    }
    const std::size_t held = lines.served;
    EXPECT_LE(held, kReaderBacklogBytes + kReaderBatchBytes + 2 * kReadBufferBytes + kLineLimit);
    // Catching up frees the backlog and the reader reads on.
    std::size_t received = 0;
    RuntimeEvent event;
    while (lines.served < held + kReaderBacklogBytes && events.receive_for(testing::kPromptWait, event) == EventReceiver::Wait::Value) {
        for (const ReceivedLine& line : lines_of(event)) {
            EXPECT_EQ(line.kind, LineEventKind::Line);
            received += line.text.size() + 1;
        }
        event.finish();
    }
    EXPECT_GE(lines.served, held + kReaderBacklogBytes);
    EXPECT_GT(received, 0u);
}

// A flood of lines, as fast as reads can take them, then the end.
class FloodOfLines final : public ByteSource {
public:
    explicit FloodOfLines(std::size_t total) : total_(total) {}
    platform::ReadOutcome read(char* buffer, std::size_t capacity) override {
        static constexpr std::string_view kLine = "{\"type\":\"event\",\"n\":12345,\"text\":\"some words\"}\n";
        if (served_ >= total_) return {platform::ReadOutcome::Kind::End, 0, 0};
        const std::size_t n = std::min(capacity, total_ - served_);
        for (std::size_t i = 0; i < n; ++i) buffer[i] = kLine[(served_ + i) % kLine.size()];
        served_ += n;
        return {platform::ReadOutcome::Kind::Data, n, 0};
    }

private:
    std::size_t total_;
    std::size_t served_ = 0;
};

// The reader shapes part of a flood itself and leaves the rest to the loop, so
// that both threads work on it: neither may end up with nearly all of it,
// however the batches happen to be cut.
TEST(ReaderThread, SharesTheShapingOfAFloodWithTheLoop) {
    auto [sender, events] = base::make_channel<RuntimeEvent>();
    const LineShaper shape = [](std::string_view line, std::string& out) {
        out += line;
        return Shaped{true, 0};
    };
    start_line_reader(std::make_unique<FloodOfLines>(std::size_t{8} << 20), kLineLimit, EventSource::BackendStdout,
                      std::move(sender), shape);
    std::size_t shaped = 0;
    std::size_t plain = 0;
    bool closed = false;
    RuntimeEvent event;
    while (!closed && events.receive_for(testing::kPromptWait, event) == EventReceiver::Wait::Value) {
        event.for_each(
            [&](const StreamLine& line) {
                if (line.kind == LineEventKind::Line) plain += line.text.size();
                closed = closed || line.kind == LineEventKind::Closed;
            },
            [&](const ShapedLine& line) { shaped += line.record.size(); });
        event.finish();
    }
    ASSERT_TRUE(closed);
    const double share = static_cast<double>(shaped) / static_cast<double>(shaped + plain);
    EXPECT_GT(share, 0.25) << shaped << " bytes shaped by the reader, " << plain << " left to the loop";
    EXPECT_LT(share, 0.75) << shaped << " bytes shaped by the reader, " << plain << " left to the loop";
}

// Writes until the pipe refuses: the reading end has been closed.
bool write_fails_eventually(platform::NativeHandle pipe) {
    for (int attempt = 0; attempt < 3000; ++attempt) {
        if (!platform::write_all(pipe, "x\n").ok()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST(ReaderThread, ABackendReaderClosesItsPipeEndWhenItStops) {
    platform::Pipe pipe = make_pipe();
    auto [sender, events] = base::make_channel<RuntimeEvent>();
    events.close();  // the loop is gone: the first send fails and the reader stops
    start_line_reader(std::make_unique<HandleByteSource>(std::move(pipe.read)), kLineLimit,
                      EventSource::BackendStderr, std::move(sender));
    EXPECT_TRUE(write_fails_eventually(pipe.write.native()));
}

TEST(ReaderThread, ABorrowedHandleStaysOpen) {
    platform::Pipe pipe = make_pipe();
    auto [sender, events] = base::make_channel<RuntimeEvent>();
    ASSERT_TRUE(platform::write_all(pipe.write.native(), "line\n").ok());
    events.close();
    run_line_reader(HandleByteSource::borrowing(pipe.read.native()), kLineLimit, EventSource::RuntimeStdin,
                    std::move(sender));
    EXPECT_TRUE(platform::write_all(pipe.write.native(), "still open\n").ok());
}

struct WriterFixture : ::testing::Test {
    platform::Pipe pipe = make_pipe();
    std::pair<BackendInputSender, BackendInputReceiver> input =
        base::make_channel<std::string>(kBackendInputCapacity);
    std::pair<EventSender, EventReceiver> events = base::make_channel<RuntimeEvent>();

    void start_writer() {
        start_backend_input_writer(std::move(input.second), std::move(pipe.write), std::move(events.first),
                                   loop::kBusySpin);
    }
};

TEST_F(WriterFixture, WritesEachTextAsOneLineAndClosesThePipeAtTheEnd) {
    start_writer();
    BackendInputSender& sender = input.first;
    sender.send(R"({"command":"status","id":1,"payload":{"a":[],"b":1}})");
    sender.send(R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})");
    // Larger than the writer's chunk: it goes out in pieces, whole all the same.
    const std::string big = R"({"blob":")" + std::string(100000, 'z') + R"("})";
    sender.send(big);
    sender.release();
    LineSource backend(std::move(pipe.read));
    EXPECT_EQ(backend.next(), R"({"command":"status","id":1,"payload":{"a":[],"b":1}})");
    EXPECT_EQ(backend.next(), R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})");
    EXPECT_EQ(backend.next(), big);
    EXPECT_EQ(backend.next(), std::nullopt);  // end of input: the writer closed its end
    RuntimeEvent event;
    EXPECT_EQ(events.second.receive_for(testing::kPromptWait, event), EventReceiver::Wait::Closed);
}

TEST_F(WriterFixture, AFailedWriteIsReportedOnceAndClosesTheChannel) {
    pipe.read.close();  // the backend is gone
    start_writer();
    BackendInputSender& sender = input.first;
    EXPECT_EQ(sender.send("1"), base::SendResult::Sent);
    RuntimeEvent event;
    ASSERT_EQ(events.second.receive_for(testing::kPromptWait, event), EventReceiver::Wait::Value);
    const std::vector<ReceivedLine> failure = lines_of(event);
    ASSERT_EQ(failure.size(), 1u);
    EXPECT_EQ(failure[0].kind, LineEventKind::Failed);
    EXPECT_EQ(failure[0].source, EventSource::BackendInputWriter);
#ifdef _WIN32
    EXPECT_NE(failure[0].text.find(" (os error 232)"), std::string::npos) << failure[0].text;
#else
    EXPECT_EQ(failure[0].text, "Broken pipe (os error 32)");
#endif
    // The writer lets go of its receiver before its sender of events.
    EXPECT_EQ(events.second.receive_for(testing::kPromptWait, event), EventReceiver::Wait::Closed);
    EXPECT_EQ(sender.send("2"), base::SendResult::Closed);
}

TEST_F(WriterFixture, AFullChannelIsRefusedOnlyBehindAFullPipe) {
    start_writer();
    BackendInputSender& sender = input.first;
    const std::string big = '"' + std::string(16384, 'b') + '"';
    // Nobody reads the pipe: once it is full the writer waits on it, and only
    // then does the channel fill up to its capacity.
    int sent = 0;
    base::SendResult result = base::SendResult::Sent;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (result == base::SendResult::Sent && std::chrono::steady_clock::now() < deadline) {
        result = sender.send(big);
        if (result == base::SendResult::Sent) ++sent;
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(result, base::SendResult::Full);
    EXPECT_GE(sent, static_cast<int>(kBackendInputCapacity));
    // The backend reads again: the writer catches up and the channel takes values again.
    LineSource backend(std::move(pipe.read));
    for (int i = 0; i < sent; ++i) ASSERT_EQ(backend.next(), big) << i;
    EXPECT_EQ(sender.send(R"("last")"), base::SendResult::Sent);
    sender.release();
    EXPECT_EQ(backend.next(), R"("last")");
    EXPECT_EQ(backend.next(), std::nullopt);
}

// Where the OS can pass on no more requests (the handler's pipe ended or
// failed), every wait answers false at once: a watcher that went on would
// wake the loop, as fast as it can, for requests nobody made.
TEST(TerminationWatcher, StopsAndLetsGoWhenNoRequestCanComeAnyMore) {
    auto [sender, events] = base::make_channel<RuntimeEvent>();
    int waits = 0;
    run_termination_watcher(std::move(sender), [&] {
        // A watcher that keeps waiting is stopped here, the loop gone, so the
        // test fails instead of hanging.
        if (++waits == 100) events.close();
        return false;
    });
    EXPECT_EQ(waits, 1);
    RuntimeEvent none;
    // No event, and its sender let go: the channel is closed.
    EXPECT_EQ(events.receive_for(testing::kPromptWait, none), EventReceiver::Wait::Closed);
}

#ifndef _WIN32
// raise() delivers the signal as kill() from outside would; the console events
// of Windows cannot be made without a console.
TEST(TerminationWatcher, SendsOneEventForEachRequest) {
    ASSERT_TRUE(platform::catch_termination_requests().ok());
    auto [sender, events] = base::make_channel<RuntimeEvent>();
    start_termination_watcher(std::move(sender));
    for (const int request : {SIGTERM, SIGINT, SIGHUP}) {
        ASSERT_EQ(std::raise(request), 0);
        RuntimeEvent event;
        ASSERT_EQ(events.receive_for(testing::kPromptWait, event), EventReceiver::Wait::Value) << request;
        EXPECT_EQ(event.source(), EventSource::TerminationRequest);
        EXPECT_TRUE(event.empty());  // a process event carries no lines
    }
    RuntimeEvent none;
    EXPECT_EQ(events.receive_for(100ms, none), EventReceiver::Wait::TimedOut);
}
#endif

}  // namespace
}  // namespace quern::io
