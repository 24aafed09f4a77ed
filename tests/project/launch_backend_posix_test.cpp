#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include "posix_project.hpp"
#include "project/launch_backend.hpp"
#include "support/child_streams.hpp"
#include "support/recording.hpp"
#include "support/test_process.hpp"

extern char** environ;

namespace quern::project {
namespace {

namespace fs = std::filesystem;

// Sets or unsets a variable of this process for one test, then puts it back.
class EnvironmentOverride {
public:
    EnvironmentOverride(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~EnvironmentOverride() {
        if (old_) ::setenv(name_.c_str(), old_->c_str(), 1);
        else ::unsetenv(name_.c_str());
    }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

std::map<std::string, std::string> own_environment() {
    testing::Recording recording;
    for (char** entry = environ; *entry != nullptr; ++entry) testing::add_environment_entry(recording, *entry);
    return recording.environment;
}

// What a backend did with one run: its records, its diagnostics, its end.
struct BackendRun {
    testing::Recording recording;
    std::string diagnostics;
    platform::ExitPoll exit;
};

BackendRun run_backend(BackendProcess backend, std::string_view input) {
    BackendRun run;
    EXPECT_TRUE(testing::write_and_close(backend.stdin_pipe, input));
    run.recording = testing::parse_recording(testing::read_to_end(backend.stdout_pipe));
    run.diagnostics = testing::read_to_end(backend.stderr_pipe);
    run.exit = backend.process.wait_for_exit();
    return run;
}

class LaunchBackendPosix : public ::testing::Test {
protected:
    testing::ScratchDirectory scratch;
    fs::path root = fs::canonical(scratch.path());

    ResolvedProject resolved(const fs::path& argument) {
        base::Result<ResolvedProject> project = resolve_project(argument.native());
        EXPECT_TRUE(project.ok()) << project.error();
        return project.ok() ? project.value() : ResolvedProject{};
    }
    BackendRun launch_and_run(const ResolvedProject& project) {
        base::Result<BackendProcess> backend = launch_backend(project);
        EXPECT_TRUE(backend.ok()) << backend.error();
        if (!backend.ok()) return {};
        return run_backend(std::move(backend).value(), "{\"id\":1}\n");
    }
};

std::vector<std::string> backend_arguments(const ResolvedProject& project) {
    return {project.python_path, "-u", "-m", "quern.gui_backend", "--project", project.project_dir};
}

TEST_F(LaunchBackendPosix, TheBackendGetsItsArgumentsDirectoryAndPipes) {
    ASSERT_NO_FATAL_FAILURE(make_project(root / "app"));
    const ResolvedProject project = resolved(root / "app");
    const BackendRun run = launch_and_run(project);
    EXPECT_EQ(run.recording.arguments, backend_arguments(project));
    EXPECT_EQ(run.recording.working_directory, project.project_dir);
    EXPECT_EQ(run.recording.input, "{\"id\":1}\n");
    EXPECT_EQ(run.diagnostics, "recorded\n");
    EXPECT_EQ(run.exit.state, platform::ExitPoll::State::Exited);
    EXPECT_EQ(run.exit.exit_code, 0u);
}

TEST_F(LaunchBackendPosix, TheEnvironmentIsTheRuntimesWithPythonSettingsFixed) {
    ASSERT_NO_FATAL_FAILURE(make_project(root / "app"));
    EnvironmentOverride utf8("PYTHONUTF8", "0");
    EnvironmentOverride encoding("PYTHONIOENCODING", "latin-1");
    EnvironmentOverride path("PYTHONPATH", "/nowhere");
    EnvironmentOverride home("PYTHONHOME", "/nowhere");
    EnvironmentOverride lower("pythonpath", "kept: POSIX names are case-sensitive");
    EnvironmentOverride kept("QUERN_TEST_KEPT", "a=b c");
    std::map<std::string, std::string> expected = own_environment();
    expected.erase("PYTHONPATH");
    expected.erase("PYTHONHOME");
    expected["PYTHONUTF8"] = "1";
    expected["PYTHONIOENCODING"] = "utf-8";
    EXPECT_EQ(launch_and_run(resolved(root / "app")).recording.environment, expected);
}

TEST_F(LaunchBackendPosix, AProjectPathWithASpaceIsOneArgument) {
    ASSERT_NO_FATAL_FAILURE(make_project(root / "my project"));
    const ResolvedProject project = resolved(root / "my project");
    const BackendRun run = launch_and_run(project);
    EXPECT_EQ(run.recording.arguments, backend_arguments(project));
    EXPECT_EQ(run.recording.arguments.back(), (root / "my project").native());
}

TEST_F(LaunchBackendPosix, AProjectReachedThroughALinkGetsItsFinalPath) {
    ASSERT_NO_FATAL_FAILURE(make_project(root / "app"));
    fs::create_directory_symlink(root / "app", root / "link");
    const BackendRun run = launch_and_run(resolved(root / "link"));
    ASSERT_FALSE(run.recording.arguments.empty());
    EXPECT_EQ(run.recording.arguments.back(), (root / "app").native());
    EXPECT_EQ(run.recording.working_directory, (root / "app").native());
}

// The helper child program stands in for python where the test needs to see
// descriptors and the process group (without a script.txt it records what it
// was given); a venv's python would open its own files.
class LaunchRecordingHelper : public LaunchBackendPosix {
protected:
    void SetUp() override {
        testing::write_file(root / "app" / "quern" / "gui_backend.py", "");
        fs::create_directories(root / "app" / ".venv" / "bin");
        fs::copy_file(testing::test_child(), root / "app" / ".venv" / "bin" / "python");
    }
};

TEST_F(LaunchRecordingHelper, TheBackendInheritsOnlyItsThreePipes) {
    const int leaked = ::dup(STDERR_FILENO);  // without close-on-exec
    const BackendRun run = launch_and_run(resolved(root / "app"));
    ::close(leaked);
    EXPECT_EQ(run.recording.descriptors, (std::vector<std::string>{"0", "1", "2"}));
}

TEST_F(LaunchRecordingHelper, TheBackendLeadsItsOwnProcessGroup) {
    base::Result<BackendProcess> backend = launch_backend(resolved(root / "app"));
    ASSERT_TRUE(backend.ok()) << backend.error();
    const auto pid = static_cast<pid_t>(backend.value().process.process_id());
    EXPECT_EQ(::getpgid(pid), pid);
    EXPECT_EQ(run_backend(std::move(backend).value(), "").exit.exit_code, 0u);
}

class LaunchFailure : public LaunchBackendPosix {
protected:
    fs::path python = root / "app" / ".venv" / "bin" / "python";

    void SetUp() override {
        testing::write_file(root / "app" / "quern" / "gui_backend.py", "");
        testing::write_file(python, "print('a text file is no program')\n");
        fs::permissions(python, fs::perms::owner_all);
    }
    std::string launch_error() {
        const ResolvedProject project = resolved(root / "app");
        const int descriptors = open_descriptor_count();
        base::Result<BackendProcess> backend = launch_backend(project);
        // Nothing is left: no child to reap, no descriptor open.
        EXPECT_TRUE(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD);
        EXPECT_EQ(open_descriptor_count(), descriptors);
        return backend.ok() ? "started" : backend.error();
    }
    static int open_descriptor_count() {
        int count = 0;
        for (int fd = 0; fd < 1024; ++fd) count += ::fcntl(fd, F_GETFD) != -1 ? 1 : 0;
        return count;
    }
};

TEST_F(LaunchFailure, AnInterpreterThatIsATextFileCannotStart) {
    EXPECT_EQ(launch_error(), "Failed to start project Python: Exec format error (os error 8)");
}

TEST_F(LaunchFailure, AnInterpreterThatIsNotExecutableCannotStart) {
    fs::permissions(python, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(launch_error(), "Failed to start project Python: Permission denied (os error 13)");
}

TEST_F(LaunchFailure, AnInterpreterGoneSinceTheCheckCannotStart) {
    const ResolvedProject project = resolved(root / "app");
    fs::remove(python);
    base::Result<BackendProcess> backend = launch_backend(project);
    ASSERT_FALSE(backend.ok());
    EXPECT_EQ(backend.error(), "Failed to start project Python: No such file or directory (os error 2)");
}

}  // namespace
}  // namespace quern::project
