#include <gtest/gtest.h>

#include <filesystem>

#include "platform/os_error.hpp"
#include "project/resolve_project.hpp"
#include "win32_project.hpp"

namespace quern::project {
namespace {

namespace fs = std::filesystem;
using platform::OsString;
using platform::to_utf8_lossy;

class ResolveProjectWin32 : public ::testing::Test {
protected:
    testing::ScratchDirectory scratch;
    fs::path project = scratch.path() / "app";

    std::string resolve_error(const OsString& argument) {
        base::Result<ResolvedProject> resolved = resolve_project(argument);
        return resolved.ok() ? "resolved" : resolved.error();
    }
    std::string resolve_error() { return resolve_error(project.native()); }
    // The final path of the project directory, as the runtime reports it.
    OsString project_dir() {
        make_project(project);
        base::Result<ResolvedProject> resolved = resolve_project(project.native());
        EXPECT_TRUE(resolved.ok()) << resolved.error();
        return resolved.ok() ? resolved.value().project_dir : OsString();
    }
};

TEST_F(ResolveProjectWin32, TheProjectDirectoryIsItsExtendedLengthFinalPath) {
    make_project(project);
    base::Result<ResolvedProject> resolved = resolve_project(project.native());
    ASSERT_TRUE(resolved.ok()) << resolved.error();
    const OsString& dir = resolved.value().project_dir;
    EXPECT_EQ(dir.substr(0, 4), LR"(\\?\)") << to_utf8_lossy(dir);
    EXPECT_EQ(dir.substr(dir.size() - 4), L"\\app") << to_utf8_lossy(dir);
    EXPECT_EQ(resolved.value().python_path, dir + LR"(\.venv\Scripts\python.exe)");
}

TEST_F(ResolveProjectWin32, ForwardSlashesAndATrailingSeparatorAreResolvedAway) {
    const OsString expected = project_dir();
    OsString slashed = project.native() + L"/";
    for (wchar_t& c : slashed) c = c == L'\\' ? L'/' : c;
    base::Result<ResolvedProject> resolved = resolve_project(slashed);
    ASSERT_TRUE(resolved.ok()) << resolved.error();
    EXPECT_EQ(resolved.value().project_dir, expected);
}

TEST_F(ResolveProjectWin32, TheArgumentMustBeAbsolute) {
    for (const wchar_t* argument : {L"", L"app", LR"(.\app)", L"C:app", LR"(\app)", L"/app"}) {
        EXPECT_EQ(resolve_error(argument), "--project must be an absolute directory path") << to_utf8_lossy(argument);
    }
}

TEST_F(ResolveProjectWin32, AMissingDirectoryGivesTheOsErrorText) {
    EXPECT_EQ(resolve_error(), "Cannot access project directory: " + platform::os_error_text(2));
}

TEST_F(ResolveProjectWin32, AFileIsNotAProjectDirectory) {
    testing::write_file(project, "not a directory");
    EXPECT_EQ(resolve_error(), "--project must point to a directory");
}

TEST_F(ResolveProjectWin32, MissingItemsAreNamedWithTheirJoinedPaths) {
    const OsString dir = project_dir();
    fs::remove(project / "quern" / "gui_backend.py");
    EXPECT_EQ(resolve_error(), "Missing GUI backend: " + to_utf8_lossy(dir + LR"(\quern\gui_backend.py)"));
    fs::remove_all(project / ".venv");
    EXPECT_EQ(resolve_error(), "Missing project Python: " + to_utf8_lossy(dir + LR"(\.venv\Scripts\python.exe)"));
}

TEST_F(ResolveProjectWin32, ABackendScriptThatIsADirectoryIsMissing) {
    const OsString dir = project_dir();
    fs::remove(project / "quern" / "gui_backend.py");
    fs::create_directory(project / "quern" / "gui_backend.py");
    EXPECT_EQ(resolve_error(), "Missing GUI backend: " + to_utf8_lossy(dir + LR"(\quern\gui_backend.py)"));
}

TEST_F(ResolveProjectWin32, AnInterpreterThatIsADirectoryIsMissing) {
    const OsString dir = project_dir();
    fs::remove(project / ".venv" / "Scripts" / "python.exe");
    fs::create_directory(project / ".venv" / "Scripts" / "python.exe");
    EXPECT_EQ(resolve_error(), "Missing project Python: " + to_utf8_lossy(dir + LR"(\.venv\Scripts\python.exe)"));
}

}  // namespace
}  // namespace quern::project
