#include <gtest/gtest.h>

#include "platform/windows_rules/command_line.hpp"

namespace quern::platform::windows {
namespace {

using Args = std::vector<std::u16string>;

TEST(SplitWindowsCommandLine, ProgramNameTakesNoEscapes) {
    EXPECT_EQ(split_command_line(uR"("C:\Program Files\q.exe" --project)"),
              (Args{uR"(C:\Program Files\q.exe)", u"--project"}));
    EXPECT_EQ(split_command_line(uR"(C:\a\"b c)"), (Args{uR"(C:\a\b c)"}));
    EXPECT_EQ(split_command_line(u""), (Args{u""}));
}

TEST(SplitWindowsCommandLine, ArgumentsFollowTheBackslashAndQuoteRules) {
    EXPECT_EQ(split_command_line(uR"(q "a b"  c	d)"), (Args{u"q", u"a b", u"c", u"d"}));
    EXPECT_EQ(split_command_line(uR"(q a\\\"b a\\"b c" a\\b)"),
              (Args{u"q", uR"(a\"b)", uR"(a\b c)", uR"(a\\b)"}));
    EXPECT_EQ(split_command_line(uR"(q "" "a""b")"), (Args{u"q", u"", u"a\"b"}));
    EXPECT_EQ(split_command_line(uR"(q C:\dir\ "x y\\")"), (Args{u"q", uR"(C:\dir\)", uR"(x y\)"}));
}

std::u16string quoted(std::u16string_view argument) {
    std::u16string line;
    append_argument(argument, line);
    return line;
}

TEST(AppendWindowsArgument, QuotesOnlyWhenNeeded) {
    EXPECT_EQ(quoted(uR"(C:\proj\quern)"), uR"(C:\proj\quern)");
    EXPECT_EQ(quoted(u""), uR"("")");
    EXPECT_EQ(quoted(u"C:\\my proj\\"), uR"("C:\my proj\\")");
    EXPECT_EQ(quoted(u"a\tb"), u"\"a\tb\"");
    EXPECT_EQ(quoted(uR"(say "hi")"), uR"("say \"hi\"")");
    EXPECT_EQ(quoted(uR"(a\"b)"), uR"(a\\\"b)");
}

TEST(AppendWindowsArgument, EveryArgumentSplitsBackUnchanged) {
    const Args arguments = {u"", u" ", u"plain", u"two words", uR"(trail\)", uR"(trail\\ space\\)",
                            uR"(q"uote)", uR"(\\"\")", u"tab\there", uR"(\\server\share\x y)"};
    std::u16string line = u"prog.exe";
    for (const auto& argument : arguments) {
        line += u' ';
        append_argument(argument, line);
    }
    Args expected = {u"prog.exe"};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(split_command_line(line), expected);
}

Args backend_arguments(std::u16string project) {
    return {u"-u", u"-m", u"quern.gui_backend", u"--project", std::move(project)};
}

TEST(WindowsChildCommandLine, ProgramAlwaysQuotedArgumentsOnlyWhenNeeded) {
    EXPECT_EQ(child_command_line(uR"(\\?\C:\proj\.venv\Scripts\python.exe)",
                                 backend_arguments(uR"(\\?\C:\proj)")),
              uR"("\\?\C:\proj\.venv\Scripts\python.exe" -u -m quern.gui_backend --project \\?\C:\proj)");
}

TEST(WindowsChildCommandLine, AProjectPathWithASpaceIsOneArgument) {
    const std::u16string program = uR"(\\?\C:\my proj\.venv\Scripts\python.exe)";
    const std::u16string line = child_command_line(program, backend_arguments(uR"(\\?\C:\my proj)"));
    EXPECT_EQ(line, uR"("\\?\C:\my proj\.venv\Scripts\python.exe" -u -m quern.gui_backend --project "\\?\C:\my proj")");
    Args expected = {program};
    for (const std::u16string& argument : backend_arguments(uR"(\\?\C:\my proj)")) expected.push_back(argument);
    EXPECT_EQ(split_command_line(line), expected);
}

TEST(WindowsChildCommandLine, ProgramBackslashesAreNotDoubled) {
    EXPECT_EQ(child_command_line(uR"(C:\a b\p.exe)", {uR"(C:\dir with space\)"}),
              uR"("C:\a b\p.exe" "C:\dir with space\\")");
    EXPECT_EQ(child_command_line(u"p.exe", {}), uR"("p.exe")");
}

}  // namespace
}  // namespace quern::platform::windows
