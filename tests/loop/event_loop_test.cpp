#include <gtest/gtest.h>

#include <vector>

#include "loop/event_loop.hpp"
#include "loop/supervision.hpp"
#include "platform/os_error.hpp"
#include "protocol/records.hpp"
#include "loop_fixture.hpp"

namespace quern::loop {
namespace {

using namespace std::chrono_literals;
using io::EventSource;
using io::LineEventKind;
using State = platform::ExitPoll::State;

// Events are sent before the loop runs on the test's own thread; the clock
// moves only when the loop sleeps, which it does once its event channel is closed.
struct LoopFixture : LoopWorld {
    std::pair<io::EventSender, io::EventReceiver> events = base::make_channel<io::RuntimeEvent>();

    void send(EventSource source, LineEventKind kind, std::string text = {}) {
        ASSERT_EQ(events.first.send(io::RuntimeEvent(kind, text, source)), base::SendResult::Sent);
    }
    void termination_request() {
        ASSERT_EQ(events.first.send(io::RuntimeEvent(EventSource::TerminationRequest)), base::SendResult::Sent);
    }
    void request(std::string line) { send(EventSource::RuntimeStdin, LineEventKind::Line, std::move(line)); }
    void backend_says(std::string line) { send(EventSource::BackendStdout, LineEventKind::Line, std::move(line)); }
    void backend_streams_end() {
        send(EventSource::BackendStdout, LineEventKind::Closed);
        send(EventSource::BackendStderr, LineEventKind::Closed);
    }
    // Runs the loop; with close_channel the senders are gone (as once every
    // worker has stopped), otherwise the loop waits out its real 50 ms.
    int run(bool close_channel = true) {
        if (close_channel) events.first.release();
        return run_event_loop(backend, std::move(events.second), std::move(input.first), loop_io);
    }
};

constexpr const char* kShutdownRecord = R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})";

// Records may be held back to go out together, but never while the loop
// sleeps: every record is on its way before it waits.
TEST_F(LoopFixture, NoRecordIsHeldBackWhileTheLoopWaits) {
    std::vector<std::string> pending;
    int flushes = 0;
    loop_io.emit = [&](std::string_view record) {
        pending.emplace_back(record);
        return true;
    };
    loop_io.flush = [&] {
        ++flushes;
        for (std::string& record : pending) records.push_back(std::move(record));
        pending.clear();
        return true;
    };
    loop_io.sleep = [&](std::chrono::milliseconds pause) {
        EXPECT_TRUE(pending.empty()) << "a record was held back while the loop slept";
        clock += pause;
    };
    backend.script = {running(), running(), exited(0)};
    request(R"({"id":1,"command":"status"})");
    request(R"({"id":1,"command":"status"})");  // refused at once: a duplicate
    backend_says(R"({"type":"event","n":1})");
    send(io::EventSource::RuntimeStdin, io::LineEventKind::Closed);
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(pending.empty());
    EXPECT_GE(flushes, 2);
    EXPECT_EQ(records.size(), 3u);  // the refusal, the event and the pending request's answer
}

TEST_F(LoopFixture, TheRoadOfOneRequest) {
    backend.script = {running(), exited(0)};
    request(R"({"id":7,"command":"status"})");
    backend_says(R"({"type":"response","id":7,"ok":true,"result":{"state":"idle"}})");
    send(EventSource::RuntimeStdin, LineEventKind::Closed);
    backend_streams_end();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(records, (std::vector<std::string>{R"({"id":7,"ok":true,"result":{"state":"idle"},"type":"response"})"}));
    EXPECT_EQ(sent_to_backend(), (std::vector<std::string>{R"({"command":"status","id":7,"payload":{}})", kShutdownRecord}));
}

TEST_F(LoopFixture, StdinEndingWithNothingPendingIsACleanQuietStop) {
    backend.script = {exited(0)};
    send(EventSource::RuntimeStdin, LineEventKind::Closed);
    backend_streams_end();
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(sent_to_backend(), (std::vector<std::string>{kShutdownRecord}));
}

TEST_F(LoopFixture, ABackendExitingOnItsOwnAnswersPendingRequestsInKeyOrderThenIsFatal) {
    backend.script = {running(), exited(3)};
    request(R"({"id":"b","command":"status"})");
    request(R"({"id":"a","command":"generate"})");
    backend_streams_end();
    EXPECT_EQ(run(/*close_channel=*/false), 1);
    EXPECT_EQ(records, (std::vector<std::string>{
                           R"j({"error":"Python backend exited (exit code: 3)","id":"a","ok":false,"type":"response"})j",
                           R"j({"error":"Python backend exited (exit code: 3)","id":"b","ok":false,"type":"response"})j",
                           R"j({"error":"Python backend exited (exit code: 3)","type":"fatal"})j"}));
}

TEST_F(LoopFixture, AnUnansweredQueuedShutdownGetsAShutdownResponse) {
    backend.script = {running(), exited(0)};
    request(R"({"id":1,"command":"generate"})");
    request(R"({"id":2,"command":"shutdown"})");
    request(R"({"id":3,"command":"status"})");
    send(EventSource::RuntimeStdin, LineEventKind::Closed);
    backend_streams_end();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(records, (std::vector<std::string>{
                           R"({"error":"Runtime is shutting down","id":3,"ok":false,"type":"response"})",
                           R"j({"error":"Python backend exited (exit code: 0)","id":1,"ok":false,"type":"response"})j",
                           R"({"id":2,"ok":true,"result":{"shutdown":true},"type":"response"})"}));
    // The front end's own shutdown went to the backend; the runtime sent none of its own.
    EXPECT_EQ(sent_to_backend().back(), R"({"command":"shutdown","id":2,"payload":{}})");
}

TEST_F(LoopFixture, AWriterFailureBeforeShutdownMakesTheStopUnclean) {
    backend.script = {running(), exited(0)};
    request(R"({"id":1,"command":"status"})");
    send(EventSource::BackendInputWriter, LineEventKind::Failed, "Broken pipe (os error 32)");
    backend_streams_end();
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(records, (std::vector<std::string>{
                           R"j({"error":"Backend input failed: Broken pipe (os error 32)","id":1,"ok":false,"type":"response"})j",
                           R"j({"error":"Backend input failed: Broken pipe (os error 32)","type":"fatal"})j"}));
}

TEST_F(LoopFixture, AWriterFailureAfterShutdownBeganIsIgnored) {
    backend.script = {running(), exited(0)};
    send(EventSource::RuntimeStdin, LineEventKind::Closed);
    send(EventSource::BackendInputWriter, LineEventKind::Failed, "Broken pipe (os error 32)");
    backend_streams_end();
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(records.empty());
}

TEST_F(LoopFixture, AFailedRecordWriteBeginsTheShutdownAndTheLoopGoesOn) {
    backend.script = {running(), running(), exited(0)};
    output_ok = false;
    request(R"([])");
    backend_says(R"({"type":"event"})");
    backend_streams_end();
    EXPECT_EQ(run(/*close_channel=*/false), 0);  // shutdown began, so the stop is clean
    EXPECT_EQ(records.size(), 2u);               // both writes were still attempted
    EXPECT_EQ(sent_to_backend(), (std::vector<std::string>{kShutdownRecord}));
}

TEST_F(LoopFixture, RequestsAreRefusedWhileShuttingDownButBadLinesKeepTheirOwnMessage) {
    backend.script = {exited(0)};
    send(EventSource::RuntimeStdin, LineEventKind::Closed);
    request(R"({"id":1,"command":"status"})");
    request(R"({"id":1,"command":"nope"})");
    send(EventSource::RuntimeStdin, LineEventKind::Oversized);
    send(EventSource::RuntimeStdin, LineEventKind::InvalidUtf8);
    backend_streams_end();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(records, (std::vector<std::string>{
                           R"({"error":"Runtime is shutting down","id":1,"ok":false,"type":"response"})",
                           R"({"error":"Unknown command; use a supported Quern training or generation command","id":1,"ok":false,"type":"response"})",
                           R"({"error":"Request exceeds the 64 KiB limit","id":null,"ok":false,"type":"response"})",
                           R"({"error":"Request must be UTF-8 JSON","id":null,"ok":false,"type":"response"})"}));
}

TEST_F(LoopFixture, TheDrainWindowEndsAtTheFirstPassStrictlyAfterIt) {
    backend.script = {exited(0)};
    send(EventSource::RuntimeStdin, LineEventKind::Closed);
    send(EventSource::BackendStdout, LineEventKind::Closed);  // stderr stays open (a grandchild holds it)
    EXPECT_EQ(run(), 0);
    // The exit was seen on the first pass, and passes come a loop wait apart:
    // the pass at exactly the window's end is not yet past it.
    static_assert(kDrainWindow % kLoopWait == std::chrono::milliseconds(0));
    EXPECT_EQ(clock - start, kDrainWindow + kLoopWait);
    // Whatever holds the stream open is ended with the rest of the tree.
    EXPECT_EQ(backend.leftovers_ended, 1);
}

TEST_F(LoopFixture, TheLoopLeavesAtTheFirstPassThatSeesTheExitOnceBothStreamsEnded) {
    backend.script = {running(), running(), exited(0)};
    send(EventSource::RuntimeStdin, LineEventKind::Closed);
    backend_streams_end();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(backend.polls, 3);
    // What the backend started may live on without its streams; it goes too.
    EXPECT_EQ(backend.leftovers_ended, 1);
}

TEST_F(LoopFixture, ABackendIgnoringShutdownIsEndedAtTheDeadline) {
    backend.script = {running()};
    backend.after_termination = exited(1);
    request(R"({"id":"s","command":"shutdown"})");
    request(R"({"id":"g","command":"generate"})");
    send(EventSource::RuntimeStdin, LineEventKind::Closed);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(backend.terminations, 1);
    EXPECT_GE(clock - start, kShutdownGracePeriod);
    EXPECT_LT(clock - start, kShutdownGracePeriod + 2 * kLoopWait);
    EXPECT_EQ(records, (std::vector<std::string>{
                           R"({"error":"Runtime is shutting down","id":"g","ok":false,"type":"response"})",
                           R"({"id":"s","ok":true,"result":{"shutdown":true},"type":"response"})"}));
}

TEST_F(LoopFixture, ABackendThatCannotBePolledIsEndedAndTheStopIsUnclean) {
    backend.script = {platform::ExitPoll{State::Failed, 0, 5}};
    send(EventSource::BackendStdout, LineEventKind::Failed, "The pipe has been ended. (os error 109)");
    EXPECT_EQ(run(/*close_channel=*/false), 1);
    EXPECT_EQ(backend.terminations, 1);
    const std::string message = "Failed to supervise backend: " + platform::os_error_text(5);
    EXPECT_EQ(records, (std::vector<std::string>{json::to_compact_text(protocol::fatal_record(message))}));
}

TEST_F(LoopFixture, TheExitPathEndsWhatTheBackendLeftBehind) {
    backend.script = {exited(0)};
    send(EventSource::RuntimeStdin, LineEventKind::Closed);
    backend_streams_end();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(backend.leftovers_ended, 1);
    EXPECT_EQ(backend.terminations, 0);
}

TEST_F(LoopFixture, ATerminationRequestStopsTheRunAsTheEndOfInputWould) {
    backend.script = {running(), exited(0)};
    request(R"({"id":7,"command":"status"})");
    termination_request();
    backend_says(R"({"type":"response","id":7,"ok":true,"result":{}})");
    request(R"({"id":8,"command":"status"})");
    backend_streams_end();
    EXPECT_EQ(run(/*close_channel=*/false), 0);
    EXPECT_EQ(records, (std::vector<std::string>{
                           R"({"id":7,"ok":true,"result":{},"type":"response"})",
                           R"({"error":"Runtime is shutting down","id":8,"ok":false,"type":"response"})"}));
    EXPECT_EQ(sent_to_backend(), (std::vector<std::string>{R"({"command":"status","id":7,"payload":{}})", kShutdownRecord}));
    EXPECT_EQ(backend.terminations, 0);
}

TEST_F(LoopFixture, ASecondTerminationRequestEndsTheTreeAtOnceAndTheRunIsInterrupted) {
    backend.script = {running()};
    request(R"({"id":"g","command":"generate"})");
    termination_request();
    termination_request();
    termination_request();
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(backend.terminations, 1);
    EXPECT_EQ(backend.leftovers_ended, 1);
    // Not a moment of the grace period is waited out.
    EXPECT_LE(clock - start, kLoopWait);
    EXPECT_EQ(records, (std::vector<std::string>{
                           R"({"error":"Runtime interrupted","id":"g","ok":false,"type":"response"})",
                           R"({"error":"Runtime interrupted","type":"fatal"})"}));
    EXPECT_EQ(sent_to_backend(), (std::vector<std::string>{R"({"command":"generate","id":"g","payload":{}})", kShutdownRecord}));
}

TEST(ExitMessage, NamesTheExitCodeInDecimalOrHex) {
    LoopState state;
    EXPECT_EQ(exit_message(state), "Python backend exited");
    state.exit_code = 0;
    EXPECT_EQ(exit_message(state), "Python backend exited (exit code: 0)");
    state.exit_code = 0x7FFFFFFF;
    EXPECT_EQ(exit_message(state), "Python backend exited (exit code: 2147483647)");
    state.exit_code = 0xC0000005;
    EXPECT_EQ(exit_message(state), "Python backend exited (exit code: 0xc0000005)");
    state.failure_message = "Backend input writer stopped";
    EXPECT_EQ(exit_message(state), "Backend input writer stopped");
}

}  // namespace
}  // namespace quern::loop
