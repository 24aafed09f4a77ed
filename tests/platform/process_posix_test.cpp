#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#ifdef __linux__
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

#include "platform/process.hpp"
#include "platform/this_process.hpp"
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

#ifdef __linux__
// A child that is descheduled for a few milliseconds must not stall the
// runtime's writer: its stdin pipe holds a megabyte, where the system allows it.
TEST(ChildProcessPosix, AChildsPipeHoldsAMegabyteBeforeTheWriterWaits) {
    std::ifstream limit_file("/proc/sys/fs/pipe-max-size");
    long limit = 0;
    if (!(limit_file >> limit) || limit < (1 << 20)) GTEST_SKIP() << "pipes are limited to " << limit << " bytes here";
    base::Result<ChildPipe> input = create_child_stdio_pipe(ChildEnd::Reads);
    ASSERT_TRUE(input.ok());
    const int fd = static_cast<int>(input.value().runtime.native());
    ASSERT_EQ(::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK), 0);
    const std::string chunk(4096, 'x');
    std::size_t held = 0;
    for (;;) {
        const ssize_t n = ::write(fd, chunk.data(), chunk.size());
        if (n < 0) break;
        held += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_GE(held, std::size_t{1} << 20);
}
#endif

// Gone, or a zombie: either way it runs nothing any more.
bool has_ended(pid_t pid) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t name_end = text.rfind(')');
    return name_end != std::string::npos && text.compare(name_end, 3, ") Z") == 0;
}

// Waits for what a test awaits, polling, for at most 10 s.
template <typename Condition>
bool within_10_s(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Seeing the exit does not reap the child: until the object goes, its pid and
// its group's id cannot be given to another process.
TEST(ChildProcessPosix, AnExitedChildKeepsItsIdsUntilTheObjectGoes) {
    ProcessStart start;
    start.program = test_child();
    start.arguments = {"exit 4"};
    start.new_process_group = true;
    base::Result<ChildProcess> started = start_child_process(start);
    ASSERT_TRUE(started.ok()) << started.error();
    {
        ChildProcess child = std::move(started).value();
        const auto pid = static_cast<pid_t>(child.process_id());
        EXPECT_EQ(child.wait_for_exit().exit_code, 4u);
        EXPECT_EQ(child.poll_exit().exit_code, 4u);
        EXPECT_EQ(::getpgid(pid), pid);
        EXPECT_FALSE(child.gone());
    }
    EXPECT_TRUE(no_child_left());
}

// What a child started lives on after the child's exit, in its group; the
// group can still be ended.
TEST(ChildProcessPosix, TheTreeOfAnExitedChildCanStillBeEnded) {
    testing::ScratchDirectory scratch;
    ProcessStart start;
    start.program = test_child();
    start.arguments = {"grandchild 60000", "exit 0"};
    start.working_directory = scratch.path().native();
    start.new_process_group = true;
    base::Result<ChildProcess> child = start_child_process(start);
    ASSERT_TRUE(child.ok()) << child.error();
    const auto group = static_cast<pid_t>(child.value().process_id());
    EXPECT_EQ(child.value().wait_for_exit().exit_code, 0u);
    std::string pid_line;
    ASSERT_TRUE(within_10_s([&] {
        std::ifstream pid_file(scratch.path() / "grandchild.pid");
        return static_cast<bool>(std::getline(pid_file, pid_line));
    }));
    const auto grandchild = static_cast<pid_t>(std::stol(pid_line));
    EXPECT_EQ(::getpgid(grandchild), group);
    EXPECT_FALSE(start_ending_tree(child.value()).has_value());
    EXPECT_TRUE(within_10_s([&] { return has_ended(grandchild); }));
    ::kill(grandchild, SIGKILL);
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

#ifdef __linux__
// Makes close_range fail with ENOSYS in this process, as on Linux before 5.11
// (macOS never has it), so that the descriptors must be found another way.
bool forbid_close_range() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_close_range, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// In a process of its own (the filter cannot be lifted): without close_range,
// at the top of a raised descriptor limit, a leaked descriptor must still not
// reach the child. The exit status says which step failed.
int start_without_close_range() {
    if (!forbid_close_range()) return 2;
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    const int high = ::fcntl(STDERR_FILENO, F_DUPFD, static_cast<int>(std::min<rlim_t>(limit.rlim_cur - 1, 1u << 20) - 1));
    if (high < 1024) return 3;
    base::Result<ChildPipe> output = create_child_stdio_pipe(ChildEnd::Writes);
    if (!output.ok()) return 4;
    ProcessStart start;
    start.program = test_child();
    start.arguments = {"record"};
    start.stdio.output = output.value().child.native();
    base::Result<ChildProcess> child = start_child_process(start);
    if (!child.ok()) return 5;
    output.value().child.close();
    const testing::Recording recording = testing::parse_recording(testing::read_to_end(output.value().runtime));
    if (child.value().wait_for_exit().exit_code != 0) return 6;
    return recording.descriptors == std::vector<std::string>{"0", "1", "2"} ? 0 : 7;
}

// The same for a bound child, whose guard must close what it was forked with
// by the listing too (as it always does on macOS): were it to hold the
// runtime's end of the child's input, the child would never see its end.
int start_bound_without_close_range() {
    if (!forbid_close_range()) return 2;
    // A wait that never ends fails the test rather than hang it.
    ::alarm(30);
    base::Result<ChildPipe> input = create_child_stdio_pipe(ChildEnd::Reads);
    base::Result<ChildPipe> output = create_child_stdio_pipe(ChildEnd::Writes);
    if (!input.ok() || !output.ok()) return 3;
    ProcessStart start;
    start.program = test_child();
    start.arguments = {"record"};
    start.stdio.input = input.value().child.native();
    start.stdio.output = output.value().child.native();
    start.bind_tree = true;
    base::Result<ChildProcess> child = start_child_process(start);
    if (!child.ok() || !child.value().tree_bound()) return 4;
    input.value().child.close();
    output.value().child.close();
    input.value().runtime.close();
    const testing::Recording recording = testing::parse_recording(testing::read_to_end(output.value().runtime));
    if (child.value().wait_for_exit().exit_code != 0) return 5;
    return recording.descriptors == std::vector<std::string>{"0", "1", "2"} ? 0 : 6;
}

TEST(ChildProcessPosix, WithoutCloseRangeTheGuardOfABoundChildHoldsNothingOfTheRuntimes) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(start_bound_without_close_range());
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ChildProcessPosix, WithoutCloseRangeOnlyTheThreeStreamsAreInheritedEvenFromHighDescriptors) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(start_without_close_range());
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

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

TEST(BoundTreePosix, TheChildLeadsAGroupOfItsOwnThatItsGuardHoldsUntilTheTreeIsEnded) {
    ASSERT_TRUE(no_child_left());
    ProcessStart start;
    start.program = test_child();
    start.arguments = {"exit 0"};
    start.bind_tree = true;
    base::Result<ChildProcess> child = start_child_process(start);
    ASSERT_TRUE(child.ok()) << child.error();
    const auto pid = static_cast<pid_t>(child.value().process_id());
    EXPECT_EQ(::getpgid(pid), pid);
    EXPECT_EQ(child.value().wait_for_exit().exit_code, 0u);
    // The leader has exited, yet its group lives on, so the group's id can be
    // no one else's.
    EXPECT_EQ(::kill(-pid, 0), 0);
    child.value().end_tree();
    // The guard has been reaped; the leader is reaped when its owner lets go.
    { const ChildProcess dropped = std::move(child.value()); }
    errno = 0;
    EXPECT_EQ(::kill(-pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_TRUE(no_child_left());
}

TEST(BoundTreePosix, DroppingABoundChildEndsItsTreeAndLeavesOnlyTheChildToReap) {
    ASSERT_TRUE(no_child_left());
    testing::ScratchDirectory scratch;
    base::Result<ChildPipe> output = create_child_stdio_pipe(ChildEnd::Writes);
    ASSERT_TRUE(output.ok());
    ProcessStart start;
    start.program = test_child();
    start.arguments = {"grandchild 60000", "hang"};
    start.working_directory = scratch.path().native();
    start.stdio.output = output.value().child.native();
    start.bind_tree = true;
    base::Result<ChildProcess> child = start_child_process(start);
    ASSERT_TRUE(child.ok()) << child.error();
    output.value().child.close();
    const auto pid = static_cast<pid_t>(child.value().process_id());
    const auto deadline = std::chrono::steady_clock::now() + testing::kPromptWait;
    while (!std::filesystem::exists(scratch.path() / "grandchild.pid") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    { ChildProcess dropped = std::move(child).value(); }
    // The grandchild shares the child's stdout: its end means both are gone.
    EXPECT_TRUE(testing::pipe_ends_within(std::move(output.value().runtime), testing::kPromptWait));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    // The guard has been reaped with the tree's end.
    EXPECT_TRUE(no_child_left());
}

// Run in a process of its own, since catching is for the process's life. The
// exit status says which step failed.
int catch_in_a_fresh_process() {
    // A wait that never returns fails the test rather than hang it.
    ::alarm(30);
    // As nohup leaves it: the runtime keeps it that way.
    std::signal(SIGHUP, SIG_IGN);
    if (!catch_termination_requests().ok()) return 2;
    ::raise(SIGHUP);
    struct sigaction hangup {};
    if (::sigaction(SIGHUP, nullptr, &hangup) != 0 || hangup.sa_handler != SIG_IGN) return 3;
    // Caught, they no longer end the process: each is one request.
    ::raise(SIGTERM);
    ::raise(SIGINT);
    if (!wait_for_termination_request()) return 4;
    if (!wait_for_termination_request()) return 5;
    return 0;
}

TEST(TerminationRequestsPosix, SigtermAndSigintAreCaughtAsOneRequestEachAndAnIgnoredSighupStaysIgnored) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(catch_in_a_fresh_process());
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace quern::platform
