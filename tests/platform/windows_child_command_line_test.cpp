#include <gtest/gtest.h>

#include "platform/windows_child_command_line.hpp"
#include "platform/windows_command_line.hpp"

namespace quern::platform {
namespace {

using Args = std::vector<std::u16string>;

Args backend_arguments(std::u16string project) {
    return {u"-u", u"-m", u"quern.gui_backend", u"--project", std::move(project)};
}

TEST(WindowsChildCommandLine, ProgramAlwaysQuotedArgumentsOnlyWhenNeeded) {
    EXPECT_EQ(windows_child_command_line(uR"(\\?\C:\proj\.venv\Scripts\python.exe)",
                                         backend_arguments(uR"(\\?\C:\proj)")),
              uR"("\\?\C:\proj\.venv\Scripts\python.exe" -u -m quern.gui_backend --project \\?\C:\proj)");
}

TEST(WindowsChildCommandLine, AProjectPathWithASpaceIsOneArgument) {
    const std::u16string program = uR"(\\?\C:\my proj\.venv\Scripts\python.exe)";
    const std::u16string line = windows_child_command_line(program, backend_arguments(uR"(\\?\C:\my proj)"));
    EXPECT_EQ(line, uR"("\\?\C:\my proj\.venv\Scripts\python.exe" -u -m quern.gui_backend --project "\\?\C:\my proj")");
    Args expected = {program};
    for (const std::u16string& argument : backend_arguments(uR"(\\?\C:\my proj)")) expected.push_back(argument);
    EXPECT_EQ(split_windows_command_line(line), expected);
}

TEST(WindowsChildCommandLine, ProgramBackslashesAreNotDoubled) {
    EXPECT_EQ(windows_child_command_line(uR"(C:\a b\p.exe)", {uR"(C:\dir with space\)"}),
              uR"("C:\a b\p.exe" "C:\dir with space\\")");
    EXPECT_EQ(windows_child_command_line(u"p.exe", {}), uR"("p.exe")");
}

}  // namespace
}  // namespace quern::platform
