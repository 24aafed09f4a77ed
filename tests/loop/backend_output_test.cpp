#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loop/backend_output.hpp"
#include "loop_fixture.hpp"

namespace quern::loop {
namespace {

using io::EventSource;
using io::LineEventKind;

// Each backend stdout line is made into a record either on its reader's
// thread (the parameter true) or by the loop: the outcome must not differ.
struct RelayFixture : LoopStepFixture, ::testing::WithParamInterface<bool> {
    LoopState& state = loop.state;
    protocol::RecordRelay reader_relay;

    void stdout_event(LineEventKind kind, std::string text = {}) {
        if (!GetParam() || kind != LineEventKind::Line) return handle_backend_stdout_event(loop, io::StreamLine{kind, text});
        // Packed and unpacked as the reader hands it to the loop.
        io::RuntimeEvent event(EventSource::BackendStdout);
        event.add_shaped([&](std::string& out) { return reader_relay.relay(text, out); });
        event.for_each([](const io::StreamLine&) { ADD_FAILURE() << "a shaped line came out as a plain one"; },
                       [&](const io::ShapedLine& line) { handle_backend_record(loop, line); });
    }
    void stderr_event(LineEventKind kind, std::string text = {}) {
        handle_backend_stderr_event(loop, io::StreamLine{kind, text});
    }
    void make_pending(std::string_view id_text) { state.pending.insert(id_text, false); }
};

TEST_P(RelayFixture, ProtocolRecordsAreRewrittenCanonically) {
    stdout_event(LineEventKind::Line, R"({ "type" : "event", "b" : 1.50, "a" : 1e2, "a" : [ {"z":1,"y":null} ] })");
    stdout_event(LineEventKind::Line, "{\"type\":\"progress\",\"s\":\"\\u00e9\\/\\u001F\"}\r");
    EXPECT_EQ(records, (std::vector<std::string>{R"({"a":[{"y":null,"z":1}],"b":1.5,"type":"event"})",
                                                 "{\"s\":\"\xC3\xA9/\\u001f\",\"type\":\"progress\"}"}));
    EXPECT_TRUE(notes.empty());
}

TEST_P(RelayFixture, AnythingButAProtocolRecordIsDroppedWithANote) {
    for (const char* line : {R"({"type":5})", "[1]", "null", "", "   ", R"({"type":"x"} trailing)",
                             R"({"kind":"event"})", "not json"}) {
        stdout_event(LineEventKind::Line, line);
    }
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(notes, std::vector<std::string>(8, "[quern-runtime] Ignored non-protocol backend stdout"));
}

TEST_P(RelayFixture, UnreadableLinesGetTheInvalidRecordNote) {
    stdout_event(LineEventKind::Oversized);
    stdout_event(LineEventKind::InvalidUtf8);
    EXPECT_EQ(notes, std::vector<std::string>(2, "[quern-runtime] Ignored invalid backend stdout record"));
    EXPECT_FALSE(state.backend_stdout_closed);
}

TEST_P(RelayFixture, AResponseSettlesOnlyThePendingRequestWithItsExactKey) {
    make_pending("7");
    make_pending(R"("7")");
    stdout_event(LineEventKind::Line, R"({"type":"response","id":7.0,"ok":true})");
    stdout_event(LineEventKind::Line, R"({"type":"Response","id":7})");
    stdout_event(LineEventKind::Line, R"({"type":"event","id":7})");
    stdout_event(LineEventKind::Line, R"({"type":"response"})");
    stdout_event(LineEventKind::Line, R"({"type":"response","id":"__runtime_shutdown__"})");
    EXPECT_EQ(state.pending.size(), 2u);
    stdout_event(LineEventKind::Line, R"({"type":"response","id":7,"ok":false})");
    EXPECT_EQ(state.pending.size(), 1u);
    EXPECT_TRUE(state.pending.contains(R"("7")"));
    EXPECT_EQ(records.size(), 6u);  // every one of them is forwarded all the same
}

// The backend's records are its own to send: a second answer, or one to an id
// never asked, reaches the front end as it is and changes nothing here.
TEST_P(RelayFixture, AResponseThatSettlesNothingIsRelayedAllTheSame) {
    make_pending("1");
    stdout_event(LineEventKind::Line, R"({"type":"response","id":1,"ok":true})");
    stdout_event(LineEventKind::Line, R"({"type":"response","id":1,"ok":true})");
    stdout_event(LineEventKind::Line, R"({"type":"response","id":"never","ok":true})");
    EXPECT_TRUE(state.pending.empty());
    EXPECT_EQ(records, (std::vector<std::string>{R"({"id":1,"ok":true,"type":"response"})",
                                                 R"({"id":1,"ok":true,"type":"response"})",
                                                 R"({"id":"never","ok":true,"type":"response"})"}));
    EXPECT_TRUE(notes.empty());
}

TEST_P(RelayFixture, AFailedWriteStillSettlesTheResponseAndClearsTheHealthyFlag) {
    make_pending("1");
    output_ok = false;
    stdout_event(LineEventKind::Line, R"({"type":"response","id":1})");
    EXPECT_TRUE(state.pending.empty());
    EXPECT_FALSE(state.frontend_output_healthy);
}

TEST_P(RelayFixture, TheEndOfStdoutIsNotedAndAReadFailureBeginsAnUncleanShutdown) {
    stdout_event(LineEventKind::Closed);
    EXPECT_TRUE(state.backend_stdout_closed);
    EXPECT_FALSE(state.shutting_down());
    stdout_event(LineEventKind::Failed, "The handle is invalid. (os error 6)");
    EXPECT_EQ(state.failure_message, "Backend stdout failed: The handle is invalid. (os error 6)");
    EXPECT_TRUE(state.shutting_down());
    EXPECT_TRUE(notes.empty());
    EXPECT_TRUE(records.empty());
}

TEST_P(RelayFixture, StderrLinesPassThroughAndTroubleBecomesANote) {
    stderr_event(LineEventKind::Line, "Traceback (most recent call last):");
    stderr_event(LineEventKind::Line, "");
    stderr_event(LineEventKind::Oversized);
    stderr_event(LineEventKind::InvalidUtf8);
    stderr_event(LineEventKind::Failed, "Access is denied. (os error 5)");
    EXPECT_EQ(notes, (std::vector<std::string>{"Traceback (most recent call last):", "",
                                               "[quern-runtime] Oversized backend stderr line discarded",
                                               "[quern-runtime] Invalid UTF-8 backend stderr line discarded",
                                               "[quern-runtime] Backend stderr read failed: Access is denied. (os error 5)"}));
    EXPECT_FALSE(state.failure_message.has_value());
    EXPECT_FALSE(state.shutting_down());
}

TEST_P(RelayFixture, TheEndOfStderrIsNotedWithoutAWord) {
    stderr_event(LineEventKind::Closed);
    EXPECT_TRUE(state.backend_stderr_closed);
    EXPECT_TRUE(notes.empty());
}

INSTANTIATE_TEST_SUITE_P(OnEitherThread, RelayFixture, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ShapedByTheReader" : "ShapedByTheLoop";
                         });

}  // namespace
}  // namespace quern::loop
