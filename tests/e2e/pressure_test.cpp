#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "process_probe.hpp"
#include "support/test_process.hpp"
#include "temp_project.hpp"

namespace quern::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kRuntimeShutdown = R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})";

int count(const std::vector<std::string>& lines, const std::string& part) {
    int found = 0;
    for (const std::string& line : lines) found += line.find(part) != std::string::npos ? 1 : 0;
    return found;
}

struct UnderPressure : ::testing::Test {
    TempProject project;
};

// A GUI that is busy, minimised or paused in a debugger reads nothing for a
// while; the backend's flood must then wait in its own pipe, not in the
// runtime's memory, and arrive whole and in order once reading resumes.
TEST_F(UnderPressure, AFloodWhileTheFrontEndReadsNothingStaysInBoundedMemory) {
    constexpr int kRecords = 25000;  // about 100 MB of 4 KiB records
    project.script("stdout-records 25000 4096\nserve\n");
    StartOptions options;
    options.hold_stdout = true;
    TestProcess runtime(runtime_binary(), project.runtime_arguments(), options);
    // The front end's pause: long enough for a runtime without a bound to take
    // in the whole flood.
    std::this_thread::sleep_for(4s);
    // Unused in sanitized builds, whose resident sizes say nothing.
    [[maybe_unused]] const std::optional<double> peak_while_held = peak_resident_mib(runtime.pid());
    runtime.resume_stdout();
    for (int i = 0; i < kRecords; ++i) {
        const std::optional<std::string> record = runtime.next_line();
        ASSERT_TRUE(record.has_value()) << "record " << i << " missing";
        ASSERT_EQ(record->rfind("{\"n\":" + std::to_string(i) + ",", 0), 0u) << "record " << i << " out of order";
    }
    [[maybe_unused]] const std::optional<double> peak = peak_resident_mib(runtime.pid());
    runtime.close_stdin();
    EXPECT_EQ(runtime.wait_for_exit(), 0);
#ifndef QUERN_SANITIZED  // shadow memory makes resident sizes meaningless
    if (peak_while_held && peak) {
        EXPECT_LT(*peak_while_held, 32.0);
        EXPECT_LT(*peak, 32.0);
    }
#endif
}

// A front end loading its screens sends a burst at start-up, while the
// backend's interpreter is still starting; the pipe can take all of it.
TEST_F(UnderPressure, ABurstToAHealthyBackendIsNeverRefused) {
    constexpr int kRequests = 1000;
    project.script("serve\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    std::string burst;
    for (int i = 0; i < kRequests; ++i) burst += R"({"id":)" + std::to_string(i) + R"(,"command":"status"})" + "\n";
    ASSERT_TRUE(runtime.write(burst));
    std::vector<std::string> answers;
    for (int i = 0; i < kRequests; ++i) {
        const std::optional<std::string> answer = runtime.next_line();
        ASSERT_TRUE(answer.has_value()) << "answer " << i << " missing";
        answers.push_back(*answer);
    }
    EXPECT_EQ(count(answers, "\"ok\":true"), kRequests);
    runtime.close_stdin();
    EXPECT_EQ(runtime.wait_for_exit(), 0);
}

// The backend takes nothing for a while: two large requests fill its pipe and
// 32 more wait behind the writer when the front end leaves. The backend must
// still be asked to stop, after them, instead of being killed at the deadline.
TEST_F(UnderPressure, TheShutdownRecordGetsThroughBehindAFullQueue) {
    project.script("sleep 3000\nserve\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    const std::string padding(65000 - 60, 'p');
    for (int i = 0; i < 2; ++i) {
        runtime.send(R"({"id":"big)" + std::to_string(i) + R"(","command":"generate","payload":{"p":")" + padding + "\"}}");
    }
    for (int i = 0; i < 32; ++i) runtime.send(R"({"id":)" + std::to_string(i) + R"(,"command":"status"})");
    runtime.close_stdin();
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    EXPECT_LT(runtime.run_time(), 30s);  // far from the 75 s deadline
    const std::vector<std::string> received = project.lines_of("received.log");
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back(), kRuntimeShutdown);
    EXPECT_EQ(received.size(), 35u);
}

// The one case where a full channel is right: the backend has stopped reading
// (its pipe is full) and 32 requests wait behind the writer.
TEST_F(UnderPressure, ABackendThatStopsReadingGetsRequestsRefusedAsAFullChannel) {
    project.script("sleep 4000\nexit 0\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    // Near the request limit, so that few fit in the pipe (1 MiB on Linux).
    const std::string padding(60000, 'p');
    constexpr int kRequests = 80;
    // 17 in a full pipe of 1 MiB, and what the writer holds in its 64 KiB chunk.
    constexpr int kHeldByThePipe = 20;
    const auto send = [&](int i) {
        runtime.send(R"({"id":)" + std::to_string(i) + R"(,"command":"generate","payload":{"p":")" + padding + "\"}}");
    };
    // Enough to fill the pipe and the queue; then a pause, so that the writer
    // has surely met the full pipe (on Windows that takes a few refused writes,
    // each a round trip to the system) before the rest arrive.
    for (int i = 0; i < 55; ++i) send(i);
    std::this_thread::sleep_for(1s);
    for (int i = 55; i < kRequests; ++i) send(i);
    EXPECT_EQ(runtime.wait_for_exit(), 1);
    const int full = count(runtime.lines(), "Cannot queue backend request: sending on a full channel");
    // The pipe holds a few, 32 wait, the rest are refused.
    EXPECT_GE(full, kRequests - 32 - kHeldByThePipe);
    EXPECT_LE(full, kRequests - 32);
}

}  // namespace
}  // namespace quern::testing
