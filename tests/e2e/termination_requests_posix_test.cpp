#include <signal.h>

#include <gtest/gtest.h>

#include <string>

#include "process_probe.hpp"
#include "support/test_process.hpp"
#include "temp_project.hpp"

namespace quern::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kRuntimeShutdown = R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})";

std::string answered(const std::string& id, const std::string& command) {
    return "{\"id\":" + id + ",\"ok\":true,\"result\":{\"command\":\"" + command + "\"},\"type\":\"response\"}";
}

// SIGTERM from a service manager, SIGINT from a terminal's Ctrl+C, SIGHUP from
// a terminal that closed: each asks the runtime to stop, and it stops as when
// the front end closes its input: the backend is asked, records keep flowing,
// and a clean stop is a clean stop.
class TerminationRequest : public ::testing::TestWithParam<int> {
protected:
    TempProject project;
};

TEST_P(TerminationRequest, BeginsTheShutdownAsTheEndOfInputWould) {
    project.script("serve\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    // An answer means the backend runs, so the runtime catches requests by now.
    runtime.send(R"({"id":1,"command":"status"})");
    ASSERT_EQ(runtime.next_line(), answered("1", "status"));
    ASSERT_EQ(::kill(static_cast<pid_t>(runtime.pid()), GetParam()), 0);
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    EXPECT_EQ(runtime.lines(), (std::vector<std::string>{answered("\"__runtime_shutdown__\"", "shutdown")}));
    EXPECT_EQ(project.lines_of("received.log"),
              (std::vector<std::string>{R"({"command":"status","id":1,"payload":{}})", kRuntimeShutdown}));
    EXPECT_EQ(runtime.stderr_text(), "");
}

INSTANTIATE_TEST_SUITE_P(EachSignal, TerminationRequest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "Sigterm" : info.param == SIGINT ? "Sigint" : "Sighup");
                         });

// Whoever asks twice does not want to wait out the backend's grace period:
// the tree is ended at once and the run ends unclean.
TEST(TerminationRequests, ASecondRequestEndsTheTreeAtOnce) {
    TempProject project;
    project.script("pid-file backend.pid\ngrandchild 60000\nno-answer\nserve\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    runtime.send(R"({"id":"g","command":"generate"})");
    ASSERT_TRUE(project.await_line("received.log", R"({"command":"generate","id":"g","payload":{}})"));
    const std::optional<unsigned long> backend = project.await_pid("backend.pid");
    const std::optional<unsigned long> grandchild = project.await_pid("grandchild.pid");
    ASSERT_TRUE(backend && grandchild);
    ASSERT_EQ(::kill(static_cast<pid_t>(runtime.pid()), SIGTERM), 0);
    ASSERT_TRUE(project.await_line("received.log", kRuntimeShutdown));
    const auto second = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(static_cast<pid_t>(runtime.pid()), SIGTERM), 0);
    EXPECT_EQ(runtime.wait_for_exit(), 1);
    // Far from the 75 s the backend would otherwise have had.
    EXPECT_LT(std::chrono::steady_clock::now() - second, 20s);
    EXPECT_EQ(runtime.lines(),
              (std::vector<std::string>{R"({"error":"Runtime interrupted","id":"g","ok":false,"type":"response"})",
                                        R"({"error":"Runtime interrupted","type":"fatal"})"}));
    EXPECT_TRUE(gone_within(*backend, 2s));
    EXPECT_TRUE(gone_within(*grandchild, 2s));
    kill_process(*backend);
    kill_process(*grandchild);
}

}  // namespace
}  // namespace quern::testing
