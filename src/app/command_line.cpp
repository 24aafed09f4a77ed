#include "app/command_line.hpp"

namespace quern::app {

namespace {

bool is_word(const platform::OsString& argument, std::string_view word) {
    return argument == platform::OsString(word.begin(), word.end());
}

CommandLine fail(std::string message) {
    CommandLine result;
    result.message = std::move(message);
    return result;
}

}  // namespace

CommandLine parse_command_line(const std::vector<platform::OsString>& arguments) {
    if (arguments.empty()) return fail("Usage: quern-runtime --project ABSOLUTE_PROJECT_PATH");
    const platform::OsString& first = arguments[0];
    if (is_word(first, "-h") || is_word(first, "--help")) {
        CommandLine result;
        result.action = CommandLine::Action::Help;
        return result;
    }
    if (!is_word(first, "--project")) return fail("Expected --project ABSOLUTE_PROJECT_PATH");
    if (arguments.size() < 2) return fail("Missing --project directory");
    if (arguments.size() > 2) return fail("Unexpected extra arguments");
    CommandLine result;
    result.action = CommandLine::Action::Run;
    result.project_path = arguments[1];
    return result;
}

}  // namespace quern::app
