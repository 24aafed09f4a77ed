#include <gtest/gtest.h>

#include "process_probe.hpp"
#include "loop/timings.hpp"
#include "support/test_process.hpp"
#include "temp_project.hpp"

namespace quern::testing {
namespace {

using namespace std::chrono_literals;

// A backend that ignores the shutdown request, with a grandchild of its own:
// once the grace period has passed the whole tree is ended, and the stop is
// clean.
TEST(ShutdownDeadline, ABackendIgnoringShutdownIsEndedWithItsDescendants) {
    TempProject project;
    project.script("grandchild 600000\nignore-shutdown\nserve\n");
    // The deadline is the point: bounded a margin past it.
    TestProcess runtime(runtime_binary(), project.runtime_arguments(), {.run_bound = 120s});
    runtime.send(R"({"id":1,"command":"shutdown"})");
    runtime.close_stdin();
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    EXPECT_GE(runtime.run_time(), loop::kShutdownGracePeriod);
    EXPECT_LT(runtime.run_time(), loop::kShutdownGracePeriod + loop::kTreeEndingLongest + 10s);
    EXPECT_EQ(runtime.lines(),
              (std::vector<std::string>{R"({"id":1,"ok":true,"result":{"shutdown":true},"type":"response"})"}));
    const std::vector<std::string> pid_file = project.lines_of("grandchild.pid");
    ASSERT_EQ(pid_file.size(), 1u);
    const unsigned long grandchild = std::stoul(pid_file[0]);
    // Where taskkill cannot end the tree (Wine's ignores /T), the backend's job
    // takes the grandchild along.
    EXPECT_TRUE(gone_within(grandchild, 5s));
    kill_process(grandchild);
}

}  // namespace
}  // namespace quern::testing
