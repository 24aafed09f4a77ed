#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "platform/os_error.hpp"
#include "platform/process.hpp"
#include "support/child_streams.hpp"
#include "support/scratch_directory.hpp"
#include "support/test_process.hpp"

namespace quern::platform {
namespace {

bool inheritable(const OwnedHandle& handle) {
    DWORD flags = 0;
    return GetHandleInformation(reinterpret_cast<HANDLE>(handle.native()), &flags) &&
           (flags & HANDLE_FLAG_INHERIT) != 0;
}

TEST(ChildProcessWin32, OnlyTheChildsPipeEndIsInheritable) {
    for (ChildEnd end : {ChildEnd::Reads, ChildEnd::Writes}) {
        base::Result<ChildPipe> pipe = create_child_stdio_pipe(end);
        ASSERT_TRUE(pipe.ok());
        EXPECT_TRUE(inheritable(pipe.value().child));
        EXPECT_FALSE(inheritable(pipe.value().runtime));
    }
}

TEST(ChildProcessWin32, AFileThatIsNoProgramIsTheOsError) {
    testing::ScratchDirectory scratch;
    testing::write_file(scratch.path() / "python.exe", "not a program\r\n");
    ProcessStart start;
    start.program = (scratch.path() / "python.exe").native();
    base::Result<ChildProcess> child = start_child_process(start);
    ASSERT_FALSE(child.ok());
    EXPECT_EQ(child.error(), os_error_text(ERROR_BAD_EXE_FORMAT));
}

// A front end may hand the runtime inheritable handles of its own; they must
// not reach the backend and its tree, or the front end never sees the end of
// a pipe while any of them lives. Here the stray handle is a pipe's writing
// end: once this process closes its own copy, the reader sees the end at once
// unless the child holds one too.
TEST(ChildProcessWin32, OnlyTheStandardHandlesAreInheritedNotOtherInheritableOnes) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE stray_write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &stray_write_end, &inherit, 0));
    OwnedHandle reader(reinterpret_cast<NativeHandle>(read_end));
    ProcessStart start;
    start.program = testing::test_child();
    start.arguments = {L"hang"};
    base::Result<ChildProcess> child = start_child_process(start);
    CloseHandle(stray_write_end);
    ASSERT_TRUE(child.ok()) << child.error();
    auto ended = std::async(std::launch::async, [&reader] { return testing::read_to_end(reader); });
    const bool end_seen = ended.wait_for(testing::kPromptWait) == std::future_status::ready;
    child.value().terminate_process();
    (void)child.value().wait_for_exit();
    EXPECT_TRUE(end_seen) << "the child holds the stray pipe end";
}

// taskkill finds a tree by its root: once the child has exited there is none
// to find, and no taskkill is started.
TEST(ChildProcessWin32, AnExitedChildHasNoTreeToEnd) {
    ProcessStart start;
    start.program = testing::test_child();
    start.arguments = {L"exit 0"};
    base::Result<ChildProcess> child = start_child_process(start);
    ASSERT_TRUE(child.ok()) << child.error();
    EXPECT_EQ(child.value().wait_for_exit().exit_code, 0u);
    EXPECT_FALSE(start_ending_tree(child.value()).has_value());
}

TEST(ChildProcessWin32, TheProcessIdIsTheSystems) {
    ProcessStart start;
    start.program = testing::test_child();
    start.arguments = {L"exit 0"};
    base::Result<ChildProcess> child = start_child_process(start);
    ASSERT_TRUE(child.ok()) << child.error();
    EXPECT_NE(child.value().process_id(), 0u);
    EXPECT_NE(child.value().process_id(), GetCurrentProcessId());
    EXPECT_EQ(child.value().wait_for_exit().exit_code, 0u);
}

}  // namespace
}  // namespace quern::platform
