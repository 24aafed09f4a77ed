#include <gtest/gtest.h>

#include "support/test_process.hpp"
#include "temp_project.hpp"

namespace quern::testing {
namespace {

// Whatever starts the runtime may hand it signal dispositions of its own; an
// ignored SIGCHLD survives exec and would have the kernel reap the backend
// behind the runtime's back.
TEST(InheritedState, AnIgnoredSigchldDoesNotBreakTheRun) {
    TempProject project;
    project.script("serve\n");
    std::vector<platform::OsString> arguments = {"exec-ignoring-sigchld", "--", runtime_binary()};
    for (const platform::OsString& argument : project.runtime_arguments()) arguments.push_back(argument);
    TestProcess runtime(test_child(), arguments);
    runtime.send(R"({"id":1,"command":"status"})");
    EXPECT_EQ(runtime.next_line(), R"({"id":1,"ok":true,"result":{"command":"status"},"type":"response"})");
    runtime.send(R"({"id":2,"command":"shutdown"})");
    EXPECT_EQ(runtime.next_line(), R"({"id":2,"ok":true,"result":{"command":"shutdown"},"type":"response"})");
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    EXPECT_EQ(runtime.lines(), std::vector<std::string>{});
}

}  // namespace
}  // namespace quern::testing
