#include <gtest/gtest.h>

#include "app/command_line.hpp"

namespace quern::app {
namespace {

using platform::os_string_from_utf8;
using Action = CommandLine::Action;

CommandLine parse(std::vector<std::string> arguments) {
    std::vector<platform::OsString> os_arguments;
    for (const auto& argument : arguments) os_arguments.push_back(os_string_from_utf8(argument));
    return parse_command_line(os_arguments);
}

TEST(CommandLine, HelpIsOnlyRecognisedFirst) {
    EXPECT_EQ(parse({"-h"}).action, Action::Help);
    EXPECT_EQ(parse({"--help", "--project"}).action, Action::Help);
    EXPECT_EQ(parse({"--project", "/p", "-h"}).message, "Unexpected extra arguments");
}

TEST(CommandLine, TheProjectPathIsPassedOnUnchecked) {
    CommandLine run = parse({"--project", "relative dir"});
    EXPECT_EQ(run.action, Action::Run);
    EXPECT_EQ(run.project_path, os_string_from_utf8("relative dir"));
    EXPECT_EQ(parse({"--project", ""}).action, Action::Run);
    EXPECT_EQ(parse({"--project", "--help"}).project_path, os_string_from_utf8("--help"));
}

TEST(CommandLine, OptionWordsMustMatchExactly) {
    for (const char* first : {"-H", "--Help", "--project=C:\\p", "C:\\p", "--PROJECT", ""}) {
        CommandLine result = parse({first, "x"});
        EXPECT_EQ(result.action, Action::Fail) << first;
        EXPECT_EQ(result.message, "Expected --project ABSOLUTE_PROJECT_PATH") << first;
    }
}

TEST(CommandLine, EachMistakeHasItsMessage) {
    EXPECT_EQ(parse({}).message, "Usage: quern-runtime --project ABSOLUTE_PROJECT_PATH");
    EXPECT_EQ(parse({"--project"}).message, "Missing --project directory");
    EXPECT_EQ(parse({"--project", "/p", "extra"}).message, "Unexpected extra arguments");
}

}  // namespace
}  // namespace quern::app
