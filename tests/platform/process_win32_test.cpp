#include <windows.h>

#include <gtest/gtest.h>

#include "platform/os_error.hpp"
#include "platform/process.hpp"
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
