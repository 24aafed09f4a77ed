#include <gtest/gtest.h>

#include <filesystem>

#include "json/write.hpp"
#include "protocol/records.hpp"
#include "platform/os_error.hpp"
#include "platform/path.hpp"
#include "support/scratch_directory.hpp"
#include "support/test_process.hpp"

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

// Project checks and the launch, through the real binary. Paths in the
// messages are the project's final path with the layout joined on.
#ifdef _WIN32
const char* const kSeparator = "\\";
const char* const kInterpreter = ".venv\\Scripts\\python.exe";
const char* const kBackendScript = "quern\\gui_backend.py";
constexpr platform::OsErrorCode kNotAProgram = 193;  // ERROR_BAD_EXE_FORMAT
#else
const char* const kSeparator = "/";
const char* const kInterpreter = ".venv/bin/python";
const char* const kBackendScript = "quern/gui_backend.py";
constexpr platform::OsErrorCode kNotAProgram = 8;  // ENOEXEC
#endif

class RuntimeProjectCheck : public ::testing::Test {
protected:
    testing::ScratchDirectory scratch;
    std::filesystem::path project = scratch.path() / "app";

    // The failure with its message as the one record, JSON-escaped as written.
    void expect_project_failure(const std::string& argument, const std::string& message) {
        auto result = run_runtime_binary({"--project", argument});
        EXPECT_EQ(result.out, json::to_compact_text(protocol::fatal_record(message)) + "\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exit_code, 1);
    }
    void expect_project_failure(const std::string& message) {
        expect_project_failure(testing::utf8_path(project), message);
    }
    std::string final_item_path(const char* item) {
        base::Result<platform::OsString> dir = platform::final_path(project.native());
        EXPECT_TRUE(dir.ok());
        return platform::to_utf8_lossy(dir.ok() ? dir.value() : platform::OsString()) + kSeparator + item;
    }
};

TEST_F(RuntimeProjectCheck, ARelativePathIsRefused) {
    expect_project_failure("app", "--project must be an absolute directory path");
}

TEST_F(RuntimeProjectCheck, AMissingDirectoryCarriesTheOsError) {
    expect_project_failure("Cannot access project directory: " + platform::os_error_text(2));
}

TEST_F(RuntimeProjectCheck, AFileIsNotADirectory) {
    testing::write_file(project, "x");
    expect_project_failure("--project must point to a directory");
}

TEST_F(RuntimeProjectCheck, MissingItemsAreNamed) {
    std::filesystem::create_directory(project);
    expect_project_failure("Missing project Python: " + final_item_path(kInterpreter));
    testing::write_file(project / kInterpreter, "");
    expect_project_failure("Missing GUI backend: " + final_item_path(kBackendScript));
}

TEST_F(RuntimeProjectCheck, AnInterpreterThatIsNoProgramFailsToStart) {
    testing::write_file(project / kBackendScript, "");
    testing::write_file(project / kInterpreter, "not a program\n");
    std::filesystem::permissions(project / kInterpreter, std::filesystem::perms::owner_all);
    expect_project_failure("Failed to start project Python: " + platform::os_error_text(kNotAProgram));
}

}  // namespace
}  // namespace quern
