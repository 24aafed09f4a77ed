#include <gtest/gtest.h>

#include "support/run_program.hpp"

namespace quern {
namespace {

using testing::run_runtime_binary;

constexpr const char* kUsage =
    "Usage: quern-runtime --project ABSOLUTE_PROJECT_PATH\n"
    "JSON requests on stdin; JSON responses/events on stdout.\n";

std::string fatal_line(const std::string& message) {
    return "{\"error\":\"" + message + "\",\"type\":\"fatal\"}\n";
}

// Every start-up failure: one fatal record on stdout, nothing on stderr, status 1.
void expect_startup_failure(const std::vector<std::string>& arguments, const std::string& message) {
    auto result = run_runtime_binary(arguments);
    EXPECT_EQ(result.out, fatal_line(message));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_code, 1);
}

TEST(RuntimeCommandLine, NoArgumentsPrintsTheUsageAsAFatalRecord) {
    expect_startup_failure({}, "Usage: quern-runtime --project ABSOLUTE_PROJECT_PATH");
}

TEST(RuntimeCommandLine, HelpWritesTheUsageOnStderrOnly) {
    for (const char* help : {"-h", "--help"}) {
        auto result = run_runtime_binary({help, "ignored", "--project"});
        EXPECT_EQ(result.err, kUsage);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.exit_code, 0);
    }
}

TEST(RuntimeCommandLine, MistakesAreFatalRecordsWithStatusOne) {
    expect_startup_failure({"--Help"}, "Expected --project ABSOLUTE_PROJECT_PATH");
    expect_startup_failure({"--project=/p"}, "Expected --project ABSOLUTE_PROJECT_PATH");
    expect_startup_failure({"--project"}, "Missing --project directory");
    expect_startup_failure({"--project", "/p", "-h"}, "Unexpected extra arguments");
}

TEST(RuntimeCommandLine, StdinIsNotReadOnAFailedStart) {
    auto result = run_runtime_binary({"--project"}, {.stdin_text = "{\"id\":1,\"command\":\"status\"}\n"});
    EXPECT_EQ(result.out, fatal_line("Missing --project directory"));
    EXPECT_EQ(result.exit_code, 1);
}

TEST(RuntimeCommandLine, AClosedStdoutIsAFailedWriteNotACrash) {
    auto result = run_runtime_binary({"--project"}, {.close_stdout = true});
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_code, 1);
}

}  // namespace
}  // namespace quern
