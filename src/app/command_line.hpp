#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/os_string.hpp"

namespace quern::app {

// Written to standard error for -h / --help, and nowhere else.
inline constexpr std::string_view kUsageText =
    "Usage: quern-runtime --project ABSOLUTE_PROJECT_PATH\n"
    "JSON requests on stdin; JSON responses/events on stdout.\n";

// What the command line asks for.
struct CommandLine {
    enum class Action { Help, Run, Fail };
    Action action = Action::Fail;
    platform::OsString project_path;  // for Run: the argument, unconverted
    std::string message;              // for Fail: the fatal record's error text
};

// Reads the arguments that follow the program name. Option words are compared
// whole and case-sensitively; help is only recognised first; a third argument
// is an error before the project is looked at.
CommandLine parse_command_line(const std::vector<platform::OsString>& arguments);

}  // namespace quern::app
