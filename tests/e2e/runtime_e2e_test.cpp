#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "loop/timings.hpp"
#include "support/test_process.hpp"
#include "temp_project.hpp"

namespace quern::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kRuntimeShutdown = R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})";

std::string error_response(const std::string& message, const std::string& id) {
    return "{\"error\":\"" + message + "\",\"id\":" + id + ",\"ok\":false,\"type\":\"response\"}";
}
std::string fatal(const std::string& message) { return "{\"error\":\"" + message + "\",\"type\":\"fatal\"}"; }
std::string answered(const std::string& id, const std::string& command) {
    return "{\"id\":" + id + ",\"ok\":true,\"result\":{\"command\":\"" + command + "\"},\"type\":\"response\"}";
}

int count(const std::string& text, const std::string& part) {
    int found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

struct EndToEnd : ::testing::Test {
    TempProject project;
};

TEST_F(EndToEnd, TheRoadOfOneRequest) {
    project.script("serve\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    runtime.send(R"({"id":7,"command":"status"})");
    EXPECT_EQ(runtime.next_line(), answered("7", "status"));
    runtime.close_stdin();
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    // The backend's answer to the runtime's own shutdown request is relayed like any record.
    EXPECT_EQ(runtime.lines(), (std::vector<std::string>{answered("\"__runtime_shutdown__\"", "shutdown")}));
    EXPECT_EQ(project.lines_of("received.log"),
              (std::vector<std::string>{R"({"command":"status","id":7,"payload":{}})", kRuntimeShutdown}));
}

TEST_F(EndToEnd, RequestsAndRecordsAreRewrittenCanonicallyAndEverythingElseIsNoted) {
    project.script(
        "stdout { \"type\" : \"event\", \"b\" : 1.50, \"a\" : 1e2, \"a\" : [true] }\n"
        "stdout not json\n"
        "stdout-hex 7b2274797065223a22ff227d\n"
        "stdout-repeat 1048576 x\n"
        "stderr Traceback (most recent call last):\n"
        "stderr-hex ff\n"
        "stderr-repeat 1048576 y\n"
        "stderr-repeat 1048575 z\n"
        "serve\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    runtime.send(R"({ "session" : null, "payload" : {"z": {"b": 2, "a": 1}, "s": "\u00e9\/"}, "command" : "generate", "id" : "g" })");
    runtime.send(R"({"id":1,"command":"status","extra":true})");
    runtime.close_stdin();
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    // The backend's own event and the runtime's refusal race; each stream keeps its order.
    std::vector<std::string> records = runtime.lines();
    std::sort(records.begin(), records.end());
    std::vector<std::string> expected = {R"({"a":[true],"b":1.5,"type":"event"})",
                                         answered("\"__runtime_shutdown__\"", "shutdown"),
                                         answered("\"g\"", "generate"),
                                         error_response("Unknown request envelope field", "null")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(records, expected);
    EXPECT_EQ(project.lines_of("received.log").front(),
              "{\"command\":\"generate\",\"id\":\"g\",\"payload\":{\"s\":\"\xC3\xA9/\",\"z\":{\"a\":1,\"b\":2}},\"session\":null}");
    // Notes about stdout and relayed stderr lines interleave; each keeps its own order.
    const std::string err = runtime.stderr_text();
    EXPECT_EQ(count(err, "[quern-runtime] Ignored non-protocol backend stdout\n"), 1);
    EXPECT_EQ(count(err, "[quern-runtime] Ignored invalid backend stdout record\n"), 2);
    const std::size_t traceback = err.find("Traceback (most recent call last):\n");
    const std::size_t invalid = err.find("[quern-runtime] Invalid UTF-8 backend stderr line discarded\n");
    const std::size_t oversized = err.find("[quern-runtime] Oversized backend stderr line discarded\n");
    const std::size_t longest = err.find("\n" + std::string(1048575, 'z') + "\n");
    EXPECT_LT(traceback, invalid);
    EXPECT_LT(invalid, oversized);
    EXPECT_LT(oversized, longest);
    EXPECT_NE(longest, std::string::npos);
}

TEST_F(EndToEnd, StdinEndingWithNothingPendingIsAQuietCleanStop) {
    project.script("serve\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    runtime.close_stdin();
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    EXPECT_EQ(runtime.lines(), (std::vector<std::string>{answered("\"__runtime_shutdown__\"", "shutdown")}));
    EXPECT_EQ(runtime.stderr_text(), "");
    EXPECT_EQ(project.lines_of("received.log"), (std::vector<std::string>{kRuntimeShutdown}));
}

TEST_F(EndToEnd, ABackendExitingWithPendingRequestsIsAnUncleanStop) {
    project.script("read 2\nexit 3\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    runtime.send(R"({"id":"b","command":"train"})");
    runtime.send(R"({"id":"a","command":"status"})");
    EXPECT_EQ(runtime.wait_for_exit(), 1);
    const std::string message = "Python backend exited (exit code: 3)";
    EXPECT_EQ(runtime.lines(), (std::vector<std::string>{error_response(message, "\"a\""),
                                                         error_response(message, "\"b\""), fatal(message)}));
}

TEST_F(EndToEnd, AShutdownTheBackendLeavesUnansweredIsAnsweredAtTheEnd) {
    project.script("read 1\nsleep 300\nexit 0\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    runtime.send(R"({"id":1,"command":"shutdown"})");
    runtime.send(R"({"id":2,"command":"status"})");
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    EXPECT_EQ(runtime.lines(), (std::vector<std::string>{
                                   error_response("Runtime is shutting down", "2"),
                                   R"({"id":1,"ok":true,"result":{"shutdown":true},"type":"response"})"}));
    EXPECT_EQ(project.lines_of("received.log"),
              (std::vector<std::string>{R"({"command":"shutdown","id":1,"payload":{}})"}));
}

TEST_F(EndToEnd, AShutdownTheBackendAnswersIsRelayedOnce) {
    project.script("serve\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    runtime.send(R"({"id":"s","command":"shutdown"})");
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    EXPECT_EQ(runtime.lines(), (std::vector<std::string>{answered("\"s\"", "shutdown")}));
}

TEST_F(EndToEnd, ACrashingBackendsTracebackIsRelayedWhole) {
    std::string script;
    std::string expected = "Traceback (most recent call last):\n";
    script += "stderr Traceback (most recent call last):\n";
    for (int i = 0; i < 300; ++i) {
        const std::string line = "  File \"gui_backend.py\", line " + std::to_string(i) + ", in step";
        script += "stderr " + line + "\n";
        expected += line + "\n";
    }
    script += "stderr RuntimeError: boom\nexit 1\n";
    expected += "RuntimeError: boom\n";
    project.script(script);
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    EXPECT_EQ(runtime.wait_for_exit(), 1);
    EXPECT_EQ(runtime.stderr_text(), expected);
    EXPECT_EQ(runtime.lines(), (std::vector<std::string>{fatal("Python backend exited (exit code: 1)")}));
}

TEST_F(EndToEnd, AGrandchildHoldingTheOutputDelaysTheEndByTheDrainWindowOnly) {
    // Long enough to tell waiting for it from the drain window, short enough
    // not to hold up a test runner that waits for every process of the run.
    project.script("grandchild 6000\nexit 0\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    EXPECT_EQ(runtime.wait_for_exit(), 1);
    EXPECT_GE(runtime.run_time(), loop::kDrainWindow);
    EXPECT_LT(runtime.run_time(), 5s);
    // The grandchild holds the backend's pipes, never the front end's.
    EXPECT_LT(runtime.output_time(), 5s);
    EXPECT_EQ(runtime.lines(), (std::vector<std::string>{fatal("Python backend exited (exit code: 0)")}));
}

TEST_F(EndToEnd, AFrontEndThatStoppedReadingStillGetsACleanStop) {
    project.script("serve\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments(), {.read_stdout = false});
    runtime.send(R"({"id":1,"command":"status"})");
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    EXPECT_EQ(runtime.stderr_text(), "");
    EXPECT_EQ(project.lines_of("received.log").back(), kRuntimeShutdown);
}

TEST_F(EndToEnd, ABackendThatClosedItsInputMakesTheWriterFail) {
    // The backend must outlive the write that fails; on a loaded machine the
    // request can take seconds to get there, so it lingers a while.
    project.script("close-stdin\nstdout {\"type\":\"ready\"}\nsleep 5000\nexit 0\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    EXPECT_EQ(runtime.next_line(), R"({"type":"ready"})");
    runtime.send(R"({"id":1,"command":"status"})");
    EXPECT_EQ(runtime.wait_for_exit(), 1);
    auto records = runtime.lines();
    ASSERT_EQ(records.size(), 2u);
#ifdef _WIN32
    // Under Wine a pipe whose only reading handle was closed still takes
    // writes, so the writer cannot fail there; the backend then simply exits.
    if (records[1] == fatal("Python backend exited (exit code: 0)")) {
        EXPECT_EQ(records[0], error_response("Python backend exited (exit code: 0)", "1"));
        return;
    }
#endif
    const std::string failure = records[1].substr(10, records[1].size() - 10 - 17);
    EXPECT_EQ(failure.rfind("Backend input failed: ", 0), 0u) << records[1];
#ifndef _WIN32
    EXPECT_EQ(failure, "Backend input failed: Broken pipe (os error 32)");
#endif
    EXPECT_EQ(records[0], error_response(failure, "1"));
}

TEST_F(EndToEnd, ABackendThatStopsReadingFillsTheQueue) {
    project.script("sleep 4000\nexit 0\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    // Near the request limit, so that few fit in the pipe (1 MiB on Linux).
    const std::string padding(60000, 'p');
    const auto send = [&](int i) {
        runtime.send(R"({"id":)" + std::to_string(i) + R"(,"command":"generate","payload":{"p":")" + padding + "\"}}");
    };
    // The queue refuses only once the writer is stuck on the full pipe; on a
    // loaded machine it may not have got there while the first 40 arrive, so
    // the last ones come after a pause.
    for (int i = 0; i < 55; ++i) send(i);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int i = 55; i < 60; ++i) send(i);
    EXPECT_EQ(runtime.wait_for_exit(), 1);
    int full = 0;
    for (const std::string& record : runtime.lines()) {
        if (record.find("Cannot queue backend request: sending on a full channel") != std::string::npos) ++full;
    }
    EXPECT_GE(full, 1);
    EXPECT_LE(full, 60 - 32);
}

}  // namespace
}  // namespace quern::testing
