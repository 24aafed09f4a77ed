#include <gtest/gtest.h>

#include "core/reader_thread.hpp"
#include "platform/handle.hpp"

namespace quern {
namespace {

using namespace std::chrono_literals;

platform::Pipe make_pipe() {
    auto pipe = platform::create_pipe();
    EXPECT_TRUE(pipe.ok());
    return std::move(pipe).value();
}

RuntimeEvent next_event(EventConsumer& consumer) {
    RuntimeEvent event;
    EXPECT_EQ(consumer.wait_for(30s, event), EventConsumer::Wait::Event);
    return event;
}

TEST(ReaderThread, SendsEachLineThenClosedOverARealPipe) {
    platform::Pipe pipe = make_pipe();
    auto [producer, consumer] = make_event_queue();
    start_line_reader(std::make_unique<HandleByteSource>(std::move(pipe.read)), kBackendLineLimit,
                      EventSource::BackendStdout, std::move(producer));
    ASSERT_TRUE(platform::write_all(pipe.write.native(), "one\r\n\xFF\ntwo").ok());
    pipe.write.close();
    RuntimeEvent event = next_event(consumer);
    EXPECT_EQ(event.kind, LineEventKind::Line);
    EXPECT_EQ(event.text, "one");
    EXPECT_EQ(event.source, EventSource::BackendStdout);
    EXPECT_EQ(next_event(consumer).kind, LineEventKind::InvalidUtf8);
    EXPECT_EQ(next_event(consumer).text, "two");
    EXPECT_EQ(next_event(consumer).kind, LineEventKind::Closed);
    // The reader has let go of its producer handle.
    RuntimeEvent none;
    EXPECT_EQ(consumer.wait_for(30s, none), EventConsumer::Wait::Closed);
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
    auto [producer, consumer] = make_event_queue();
    consumer.release();  // the loop is gone: the first send fails and the reader stops
    start_line_reader(std::make_unique<HandleByteSource>(std::move(pipe.read)), kBackendLineLimit,
                      EventSource::BackendStderr, std::move(producer));
    EXPECT_TRUE(write_fails_eventually(pipe.write.native()));
}

TEST(ReaderThread, ABorrowedHandleStaysOpen) {
    platform::Pipe pipe = make_pipe();
    auto [producer, consumer] = make_event_queue();
    ASSERT_TRUE(platform::write_all(pipe.write.native(), "line\n").ok());
    consumer.release();
    run_line_reader(HandleByteSource::borrowing(pipe.read.native()), kRequestLineLimit,
                    EventSource::RuntimeStdin, std::move(producer));
    EXPECT_TRUE(platform::write_all(pipe.write.native(), "still open\n").ok());
}

}  // namespace
}  // namespace quern
