#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include "platform/process.hpp"
#include "support/child_streams.hpp"
#include "support/recording.hpp"
#include "support/scratch_directory.hpp"
#include "support/test_process.hpp"

namespace quern::platform {
namespace {

using testing::test_child;

int open_descriptor_count() {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd) count += ::fcntl(fd, F_GETFD) != -1 ? 1 : 0;
    return count;
}

// No child of this test process is left unreaped.
bool no_child_left() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

base::Result<ChildProcess> start_program(const OsString& program) {
    ProcessStart start;
    start.program = program;
    return start_child_process(start);
}

// A file that execve refuses in the given way.
OsString unstartable_program(const testing::ScratchDirectory& scratch, ::mode_t mode) {
    const std::filesystem::path file = scratch.path() / "python";
    testing::write_file(file, "not a program\n");
    ::chmod(file.c_str(), mode);
    return file.native();
}

TEST(ChildProcessPosix, TheChildLeadsAProcessGroupOfItsOwn) {
    base::Result<ChildPipe> input = create_child_stdio_pipe(ChildEnd::Reads);
    ASSERT_TRUE(input.ok());
    ProcessStart start;
    start.program = test_child();
    start.arguments = {"wait-input"};
    start.stdio.input = input.value().child.native();
    start.new_process_group = true;
    base::Result<ChildProcess> child = start_child_process(start);
    ASSERT_TRUE(child.ok()) << child.error();
    const auto pid = static_cast<pid_t>(child.value().process_id());
    EXPECT_EQ(::getpgid(pid), pid);
    EXPECT_NE(::getpgid(pid), ::getpgid(0));
    input.value().runtime.close();
    EXPECT_EQ(child.value().wait_for_exit().exit_code, 0u);
}

TEST(ChildProcessPosix, OnlyTheThreeStreamsAreInherited) {
    // A descriptor of this process without close-on-exec must still not leak.
    const int leaked = ::dup(STDERR_FILENO);
    ASSERT_GE(leaked, 3);
    base::Result<ChildPipe> output = create_child_stdio_pipe(ChildEnd::Writes);
    ASSERT_TRUE(output.ok());
    ProcessStart start;
    start.program = test_child();
    start.arguments = {"record"};
    start.stdio.output = output.value().child.native();
    base::Result<ChildProcess> child = start_child_process(start);
    ::close(leaked);
    ASSERT_TRUE(child.ok()) << child.error();
    output.value().child.close();
    const testing::Recording recording = testing::parse_recording(testing::read_to_end(output.value().runtime));
    EXPECT_EQ(child.value().wait_for_exit().exit_code, 0u);
    EXPECT_EQ(recording.descriptors, (std::vector<std::string>{"0", "1", "2"}));
}

TEST(ChildProcessPosix, DeathBySignalIs128PlusTheSignal) {
    base::Result<ChildPipe> input = create_child_stdio_pipe(ChildEnd::Reads);
    ASSERT_TRUE(input.ok());
    ProcessStart start;
    start.program = test_child();
    start.arguments = {"wait-input"};
    start.stdio.input = input.value().child.native();
    base::Result<ChildProcess> child = start_child_process(start);
    ASSERT_TRUE(child.ok()) << child.error();
    ::kill(static_cast<pid_t>(child.value().process_id()), SIGTERM);
    const ExitPoll exit = child.value().wait_for_exit();
    EXPECT_EQ(exit.state, ExitPoll::State::Exited);
    EXPECT_EQ(exit.exit_code, 128u + SIGTERM);
}

TEST(ChildProcessPosix, ExecFailuresComeBackWithNothingLeftBehind) {
    testing::ScratchDirectory scratch;
    ASSERT_TRUE(no_child_left());
    const int descriptors = open_descriptor_count();
    base::Result<ChildProcess> text_file = start_program(unstartable_program(scratch, 0755));
    ASSERT_FALSE(text_file.ok());
    EXPECT_EQ(text_file.error(), "Exec format error (os error 8)");
    base::Result<ChildProcess> not_executable = start_program(unstartable_program(scratch, 0644));
    ASSERT_FALSE(not_executable.ok());
    EXPECT_EQ(not_executable.error(), "Permission denied (os error 13)");
    EXPECT_TRUE(no_child_left());
    EXPECT_EQ(open_descriptor_count(), descriptors);
}

TEST(ChildProcessPosix, AMissingWorkingDirectoryIsAFailedStart) {
    testing::ScratchDirectory scratch;
    ProcessStart start;
    start.program = test_child();
    start.working_directory = (scratch.path() / "missing").native();
    base::Result<ChildProcess> child = start_child_process(start);
    ASSERT_FALSE(child.ok());
    EXPECT_EQ(child.error(), "No such file or directory (os error 2)");
    EXPECT_TRUE(no_child_left());
}

}  // namespace
}  // namespace quern::platform
