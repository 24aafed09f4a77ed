#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/environment.hpp"
#include "platform/os_error.hpp"
#include "platform/process.hpp"
#include "support/child_streams.hpp"
#include "support/recording.hpp"
#include "support/scratch_directory.hpp"
#include "support/test_process.hpp"

namespace quern::platform {
namespace {

using testing::parse_recording;
using testing::read_to_end;
using testing::test_child;

#ifdef _WIN32
constexpr std::uint32_t kTerminatedExitCode = 1;
#else
constexpr std::uint32_t kTerminatedExitCode = 128 + 9;  // SIGKILL
#endif

// The helper child program with the directives (and passengers after "--").
ProcessStart helper_start(const std::vector<std::string>& arguments) {
    ProcessStart start;
    start.program = test_child();
    start.arguments = testing::os_strings(arguments);
    return start;
}

ChildProcess start_ok(const ProcessStart& start) {
    base::Result<ChildProcess> child = start_child_process(start);
    EXPECT_TRUE(child.ok()) << (child.ok() ? "" : child.error());
    return child.ok() ? std::move(child).value() : ChildProcess();
}

void expect_exited(const ExitPoll& poll, std::uint32_t code) {
    EXPECT_EQ(poll.state, ExitPoll::State::Exited);
    EXPECT_EQ(poll.exit_code, code);
}

TEST(ChildProcessExit, TheExitCodeIsReportedAndKept) {
    ChildProcess child = start_ok(helper_start({"exit 7"}));
    expect_exited(child.wait_for_exit(), 7);
    expect_exited(child.poll_exit(), 7);
    expect_exited(child.poll_exit(), 7);
    child.terminate_process();  // after the exit was seen: nothing is sent
    expect_exited(child.poll_exit(), 7);
}

// The exit watcher's wait, on another thread while the owner polls: it ends
// with the child and leaves the exit and its code to the owner.
TEST(ChildProcessExit, AnExitWatchWaitsForTheExitAndLeavesItToTheOwner) {
    base::Result<ChildPipe> input = create_child_stdio_pipe(ChildEnd::Reads);
    ASSERT_TRUE(input.ok());
    ProcessStart start = helper_start({"wait-input", "exit 5"});
    start.stdio.input = input.value().child.native();
    ChildProcess child = start_ok(start);
    input.value().child.close();
    std::atomic<bool> seen{false};
    std::thread watcher([watch = ExitWatch(child), &seen] {
        watch.wait();
        seen = true;
    });
    EXPECT_EQ(child.poll_exit().state, ExitPoll::State::Running);
    EXPECT_FALSE(seen);
    input.value().runtime.close();  // its input ends, so it exits
    watcher.join();
    EXPECT_TRUE(seen);
    expect_exited(child.poll_exit(), 5);
    // A watch of no child waits for nothing.
    ExitWatch(ChildProcess()).wait();
}

TEST(ChildProcessExit, AChildWaitingForInputIsRunningUntilTerminated) {
    base::Result<ChildPipe> input = create_child_stdio_pipe(ChildEnd::Reads);
    ASSERT_TRUE(input.ok());
    ProcessStart start = helper_start({"wait-input"});
    start.stdio.input = input.value().child.native();
    ChildProcess child = start_ok(start);
    input.value().child.close();
    EXPECT_NE(child.process_id(), 0u);
    // It cannot exit before its input ends, and the runtime's end is still open.
    EXPECT_EQ(child.poll_exit().state, ExitPoll::State::Running);
    child.terminate_process();
    expect_exited(child.wait_for_exit(), kTerminatedExitCode);
    expect_exited(child.poll_exit(), kTerminatedExitCode);
}

TEST(ChildProcessExit, ClosingItsInputLetsAWaitingChildEnd) {
    base::Result<ChildPipe> input = create_child_stdio_pipe(ChildEnd::Reads);
    ASSERT_TRUE(input.ok());
    ProcessStart start = helper_start({"wait-input"});
    start.stdio.input = input.value().child.native();
    ChildProcess child = start_ok(start);
    input.value().child.close();
    input.value().runtime.close();
    expect_exited(child.wait_for_exit(), 0);
}

void expect_no_process(ChildProcess& empty) {
    EXPECT_FALSE(empty.valid());
    EXPECT_EQ(empty.process_id(), 0u);
    EXPECT_EQ(empty.poll_exit().state, ExitPoll::State::Failed);
    EXPECT_EQ(empty.wait_for_exit().state, ExitPoll::State::Failed);
    empty.terminate_process();
}

TEST(ChildProcessExit, AnEmptyChildIsNoProcessAtAll) {
    ChildProcess made_empty;
    expect_no_process(made_empty);
    ChildProcess started = start_ok(helper_start({"exit 0"}));
    ChildProcess taken = std::move(started);
    expect_no_process(started);
    expect_exited(taken.wait_for_exit(), 0);
}

TEST(ChildProcessStart, ArgumentsDirectoryAndEnvironmentAreThoseGiven) {
    testing::ScratchDirectory scratch;
    base::Result<ChildPipe> output = create_child_stdio_pipe(ChildEnd::Writes);
    ASSERT_TRUE(output.ok());
    ProcessStart start = helper_start({"record", "--", "a b", "", "q\"uote", "back\\", "tab\there"});
    start.working_directory = testing::os_path(scratch.path());
    EnvironmentChanges mark;
    mark.set = {{os_string_from_utf8("QUERN_CHILD_MARK"), os_string_from_utf8("m=1")}};
    start.environment = current_environment_with(mark);
    start.stdio.output = output.value().child.native();
    ChildProcess child = start_ok(start);
    output.value().child.close();
    const testing::Recording recording = parse_recording(read_to_end(output.value().runtime));
    expect_exited(child.wait_for_exit(), 0);
    const std::vector<std::string> expected = {to_utf8_lossy(test_child()), "record", "--", "a b", "", "q\"uote",
                                               "back\\", "tab\there"};
    EXPECT_EQ(recording.arguments, expected);
    EXPECT_EQ(recording.working_directory, testing::utf8_path(scratch.path()));
    EXPECT_EQ(recording.environment.at("QUERN_CHILD_MARK"), "m=1");
}

TEST(ChildProcessStart, StreamsNotGivenAreTheNullDevice) {
    base::Result<ChildPipe> output = create_child_stdio_pipe(ChildEnd::Writes);
    ASSERT_TRUE(output.ok());
    ProcessStart start = helper_start({"record"});
    start.stdio.output = output.value().child.native();
    ChildProcess child = start_ok(start);
    output.value().child.close();
    const testing::Recording recording = parse_recording(read_to_end(output.value().runtime));
    // Its input ended at once (no wait), and writing its stderr did not fail.
    expect_exited(child.wait_for_exit(), 0);
    EXPECT_EQ(recording.input, "");
    EXPECT_EQ(recording.arguments.size(), 2u);
}

TEST(ChildProcessStart, AMissingProgramIsTheOsError) {
    testing::ScratchDirectory scratch;
    ProcessStart start;
    start.program = testing::os_path(scratch.path() / "missing.exe");
    base::Result<ChildProcess> child = start_child_process(start);
    ASSERT_FALSE(child.ok());
    EXPECT_EQ(child.error(), os_error_text(2));
}

TEST(ChildProcessStart, PipesCarryBytesBothWays) {
    base::Result<ChildPipe> input = create_child_stdio_pipe(ChildEnd::Reads);
    base::Result<ChildPipe> output = create_child_stdio_pipe(ChildEnd::Writes);
    base::Result<ChildPipe> error = create_child_stdio_pipe(ChildEnd::Writes);
    ASSERT_TRUE(input.ok() && output.ok() && error.ok());
    ProcessStart start = helper_start({"record"});
    start.stdio = {input.value().child.native(), output.value().child.native(), error.value().child.native()};
    ChildProcess child = start_ok(start);
    input.value().child.close();
    output.value().child.close();
    error.value().child.close();
    EXPECT_TRUE(testing::write_and_close(input.value().runtime, "ping\n"));
    EXPECT_EQ(parse_recording(read_to_end(output.value().runtime)).input, "ping\n");
    EXPECT_EQ(read_to_end(error.value().runtime), "recorded\n");
    expect_exited(child.wait_for_exit(), 0);
}

using namespace std::chrono_literals;
using testing::pipe_ends_within;

bool file_appears_within(const std::filesystem::path& file, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(file)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// A bound child and a child of its own, sharing one stdout: the pipe ends only
// once both are gone.
struct BoundFamily {
    ChildProcess child;
    OwnedHandle output;
};

BoundFamily start_bound_family(const testing::ScratchDirectory& scratch) {
    base::Result<ChildPipe> output = create_child_stdio_pipe(ChildEnd::Writes);
    EXPECT_TRUE(output.ok());
    if (!output.ok()) return {};
    ProcessStart start = helper_start({"grandchild 60000", "hang"});
    start.working_directory = testing::os_path(scratch.path());
    start.stdio.output = output.value().child.native();
    start.bind_tree = true;
    ChildProcess child = start_ok(start);
    output.value().child.close();
    EXPECT_TRUE(child.tree_bound());
    EXPECT_EQ(child.tree_binding_failure(), "");
    // Once it is written, the grandchild runs.
    EXPECT_TRUE(file_appears_within(scratch.path() / "grandchild.pid", testing::kPromptWait));
    return {std::move(child), std::move(output.value().runtime)};
}

TEST(BoundTree, EndingItEndsTheChildAndWhatTheChildStarted) {
    testing::ScratchDirectory scratch;
    BoundFamily family = start_bound_family(scratch);
    family.child.end_tree();
    EXPECT_FALSE(family.child.tree_bound());
    expect_exited(family.child.wait_for_exit(), kTerminatedExitCode);
    EXPECT_TRUE(pipe_ends_within(std::move(family.output), testing::kPromptWait));
    family.child.end_tree();  // a second time: nothing left to do
}

// The binding holds on to none of the runtime's descriptors: a child still
// sees the end of its input, and the runtime the end of the child's output.
TEST(BoundTree, TheChildsPipesEndAsTheyWould) {
    base::Result<ChildPipe> input = create_child_stdio_pipe(ChildEnd::Reads);
    base::Result<ChildPipe> output = create_child_stdio_pipe(ChildEnd::Writes);
    ASSERT_TRUE(input.ok() && output.ok());
    ProcessStart start = helper_start({"wait-input"});
    start.stdio.input = input.value().child.native();
    start.stdio.output = output.value().child.native();
    start.bind_tree = true;
    ChildProcess child = start_ok(start);
    input.value().child.close();
    output.value().child.close();
    input.value().runtime.close();
    const bool ended = pipe_ends_within(std::move(output.value().runtime), testing::kPromptWait);
    if (!ended) child.terminate_process();
    EXPECT_TRUE(ended);
    expect_exited(child.wait_for_exit(), ended ? 0 : kTerminatedExitCode);
}

}  // namespace
}  // namespace quern::platform
