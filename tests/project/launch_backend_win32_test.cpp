#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>

#include "platform/os_error.hpp"
#include "project/launch_backend.hpp"
#include "support/child_streams.hpp"
#include "support/recording.hpp"
#include "win32_project.hpp"

namespace quern::project {
namespace {

namespace fs = std::filesystem;
using platform::OsString;
using platform::to_utf8_lossy;

// Sets or removes a variable of this process for one test, then puts it back.
class EnvironmentOverride {
public:
    EnvironmentOverride(const wchar_t* name, const wchar_t* value) : name_(name) {
        wchar_t old[32767];
        const DWORD length = GetEnvironmentVariableW(name, old, 32767);
        if (length > 0 && length < 32767) old_ = OsString(old, length);
        SetEnvironmentVariableW(name, value);
    }
    ~EnvironmentOverride() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

private:
    OsString name_;
    std::optional<OsString> old_;
};

std::map<std::string, std::string> own_environment() {
    testing::Recording recording;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
        testing::add_environment_entry(recording, to_utf8_lossy(entry));
    }
    FreeEnvironmentStringsW(block);
    return recording.environment;
}

bool same_name_ignoring_case(const std::string& a, const std::string& b) {
    return CompareStringOrdinal(platform::os_string_from_utf8(a).c_str(), -1, platform::os_string_from_utf8(b).c_str(),
                                -1, TRUE) == CSTR_EQUAL;
}

struct BackendRun {
    testing::Recording recording;
    std::string diagnostics;
    platform::ExitPoll exit;
};

class LaunchBackendWin32 : public ::testing::Test {
protected:
    testing::ScratchDirectory scratch;

    ResolvedProject resolved(const fs::path& dir) {
        make_project(dir);
        base::Result<ResolvedProject> project = resolve_project(dir.native());
        EXPECT_TRUE(project.ok()) << project.error();
        return project.ok() ? project.value() : ResolvedProject{};
    }
    BackendRun launch_and_run(const ResolvedProject& project) {
        base::Result<BackendProcess> launched = launch_backend(project);
        EXPECT_TRUE(launched.ok()) << launched.error();
        if (!launched.ok()) return {};
        BackendProcess& backend = launched.value();
        BackendRun run;
        EXPECT_TRUE(testing::write_and_close(backend.stdin_pipe, "{\"id\":1}\n"));
        run.recording = testing::parse_recording(testing::read_to_end(backend.stdout_pipe));
        run.diagnostics = testing::read_to_end(backend.stderr_pipe);
        run.exit = backend.process.wait_for_exit();
        return run;
    }
};

std::vector<std::string> backend_arguments(const ResolvedProject& project) {
    return {to_utf8_lossy(project.python_path), "-u", "-m", "quern.gui_backend", "--project",
            to_utf8_lossy(project.project_dir)};
}

TEST_F(LaunchBackendWin32, TheBackendGetsItsCommandLineDirectoryAndPipes) {
    const ResolvedProject project = resolved(scratch.path() / "app");
    const BackendRun run = launch_and_run(project);
    EXPECT_EQ(run.recording.command_line, "\"" + to_utf8_lossy(project.python_path) +
                                              "\" -u -m quern.gui_backend --project " +
                                              to_utf8_lossy(project.project_dir));
    EXPECT_EQ(run.recording.arguments, backend_arguments(project));
    // The final path without its \\?\ prefix, since that changes nothing here.
    EXPECT_EQ(run.recording.working_directory, to_utf8_lossy(project.project_dir.substr(4)));
    EXPECT_EQ(run.recording.input, "{\"id\":1}\n");
    EXPECT_EQ(run.diagnostics, "recorded\n");
    EXPECT_EQ(run.exit.state, platform::ExitPoll::State::Exited);
    EXPECT_EQ(run.exit.exit_code, 0u);
}

TEST_F(LaunchBackendWin32, AProjectPathWithASpaceIsQuotedAsOneArgument) {
    const ResolvedProject project = resolved(scratch.path() / "my project");
    const BackendRun run = launch_and_run(project);
    EXPECT_EQ(run.recording.command_line, "\"" + to_utf8_lossy(project.python_path) +
                                              "\" -u -m quern.gui_backend --project \"" +
                                              to_utf8_lossy(project.project_dir) + "\"");
    EXPECT_EQ(run.recording.arguments, backend_arguments(project));
}

TEST_F(LaunchBackendWin32, TheEnvironmentIsTheRuntimesWithPythonSettingsFixed) {
    const ResolvedProject project = resolved(scratch.path() / "app");
    EnvironmentOverride utf8(L"PYTHONUTF8", L"0");
    EnvironmentOverride encoding(L"PythonIOEncoding", L"latin-1");
    EnvironmentOverride path(L"pythonpath", L"C:\\nowhere");
    EnvironmentOverride home(L"PYTHONHOME", L"C:\\nowhere");
    EnvironmentOverride kept(L"QUERN_TEST_KEPT", L"a=b c");
    std::map<std::string, std::string> expected = own_environment();
    std::erase_if(expected, [](const auto& entry) {
        for (const char* name : {"PYTHONUTF8", "PYTHONIOENCODING", "PYTHONPATH", "PYTHONHOME"}) {
            if (same_name_ignoring_case(entry.first, name)) return true;
        }
        return false;
    });
    expected["PYTHONUTF8"] = "1";
    expected["PYTHONIOENCODING"] = "utf-8";
    EXPECT_EQ(expected.at("QUERN_TEST_KEPT"), "a=b c");
    EXPECT_EQ(launch_and_run(project).recording.environment, expected);
}

TEST_F(LaunchBackendWin32, AnInterpreterThatIsNoProgramCannotStart) {
    const ResolvedProject project = resolved(scratch.path() / "app");
    testing::write_file(project.python_path, "print('a text file is no program')\r\n");
    base::Result<BackendProcess> backend = launch_backend(project);
    ASSERT_FALSE(backend.ok());
    EXPECT_EQ(backend.error(), "Failed to start project Python: " + platform::os_error_text(ERROR_BAD_EXE_FORMAT));
}

TEST_F(LaunchBackendWin32, AnInterpreterGoneSinceTheCheckCannotStart) {
    const ResolvedProject project = resolved(scratch.path() / "app");
    fs::remove(scratch.path() / "app" / ".venv" / "Scripts" / "python.exe");
    base::Result<BackendProcess> backend = launch_backend(project);
    ASSERT_FALSE(backend.ok());
    EXPECT_EQ(backend.error(), "Failed to start project Python: " + platform::os_error_text(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace quern::project
