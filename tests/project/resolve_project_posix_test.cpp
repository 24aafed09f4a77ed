#include <gtest/gtest.h>

#include <filesystem>

#include "posix_project.hpp"
#include "project/resolve_project.hpp"
#include "support/scratch_directory.hpp"

namespace quern::project {
namespace {

namespace fs = std::filesystem;

// Projects made for real in a scratch directory; `root` is its final path, so
// expected paths are free of any link in the temporary directory's own path.
class ResolveProjectPosix : public ::testing::Test {
protected:
    testing::ScratchDirectory scratch;
    fs::path root = fs::canonical(scratch.path());
    fs::path project = root / "app";

    std::string resolve_error(const fs::path& argument) {
        base::Result<ResolvedProject> resolved = resolve_project(argument.native());
        return resolved.ok() ? "resolved" : resolved.error();
    }
    std::string resolve_error() { return resolve_error(project); }
};

TEST_F(ResolveProjectPosix, ARealProjectResolves) {
    ASSERT_NO_FATAL_FAILURE(make_project(project));
    base::Result<ResolvedProject> resolved = resolve_project(project.native());
    ASSERT_TRUE(resolved.ok()) << resolved.error();
    EXPECT_EQ(resolved.value().project_dir, project.native());
    // The interpreter is a link out of the project to the base interpreter, by
    // design; the joined path is kept, not its target.
    EXPECT_TRUE(fs::is_symlink(project / ".venv/bin/python"));
    EXPECT_EQ(resolved.value().python_path, (project / ".venv/bin/python").native());
}

TEST_F(ResolveProjectPosix, ExtraSlashesAndLinksAreResolvedAway) {
    ASSERT_NO_FATAL_FAILURE(make_project(project));
    fs::create_directory_symlink(project, root / "link");
    for (const std::string& argument : {root.native() + "//app/", root.native() + "/link", root.native() + "/app/./"}) {
        base::Result<ResolvedProject> resolved = resolve_project(argument);
        ASSERT_TRUE(resolved.ok()) << resolved.error();
        EXPECT_EQ(resolved.value().project_dir, project.native()) << argument;
    }
}

TEST_F(ResolveProjectPosix, TheArgumentMustBeAbsolute) {
    for (const char* argument : {"", "app", "./app", "../app"}) {
        EXPECT_EQ(resolve_error(argument), "--project must be an absolute directory path") << argument;
    }
}

TEST_F(ResolveProjectPosix, AMissingDirectoryGivesTheOsErrorText) {
    EXPECT_EQ(resolve_error(), "Cannot access project directory: No such file or directory (os error 2)");
}

TEST_F(ResolveProjectPosix, AFileIsNotAProjectDirectory) {
    testing::write_file(project, "not a directory");
    EXPECT_EQ(resolve_error(), "--project must point to a directory");
}

TEST_F(ResolveProjectPosix, MissingItemsAreNamedWithTheirJoinedPaths) {
    testing::write_file(project / "quern" / "gui_backend.py", "");
    EXPECT_EQ(resolve_error(), "Missing project Python: " + project.native() + "/.venv/bin/python");
    ASSERT_NO_FATAL_FAILURE(make_virtual_environment(project / ".venv"));
    fs::remove(project / "quern" / "gui_backend.py");
    EXPECT_EQ(resolve_error(), "Missing GUI backend: " + project.native() + "/quern/gui_backend.py");
}

TEST_F(ResolveProjectPosix, TheInterpreterIsReportedBeforeTheScript) {
    fs::create_directory(project);
    EXPECT_EQ(resolve_error(), "Missing project Python: " + project.native() + "/.venv/bin/python");
}

TEST_F(ResolveProjectPosix, ABackendScriptThatIsADirectoryIsMissing) {
    ASSERT_NO_FATAL_FAILURE(make_project(project));
    fs::remove(project / "quern" / "gui_backend.py");
    fs::create_directory(project / "quern" / "gui_backend.py");
    EXPECT_EQ(resolve_error(), "Missing GUI backend: " + project.native() + "/quern/gui_backend.py");
}

TEST_F(ResolveProjectPosix, AVirtualEnvironmentLinkedFromOutsideIsRefused) {
    ASSERT_NO_FATAL_FAILURE(make_project(project));
    fs::rename(project / ".venv", root / "outside-venv");
    fs::create_directory_symlink(root / "outside-venv", project / ".venv");
    EXPECT_EQ(resolve_error(), "project Python must resolve inside the selected project");
}

TEST_F(ResolveProjectPosix, AnInterpreterDirectoryLinkedFromOutsideIsRefused) {
    ASSERT_NO_FATAL_FAILURE(make_project(project));
    fs::rename(project / ".venv" / "bin", root / "outside-bin");
    fs::create_directory_symlink(root / "outside-bin", project / ".venv" / "bin");
    EXPECT_EQ(resolve_error(), "project Python must resolve inside the selected project");
}

TEST_F(ResolveProjectPosix, ABackendPackageLinkedFromOutsideIsRefused) {
    ASSERT_NO_FATAL_FAILURE(make_project(project));
    fs::rename(project / "quern", root / "outside-quern");
    fs::create_directory_symlink(root / "outside-quern", project / "quern");
    EXPECT_EQ(resolve_error(), "GUI backend must resolve inside the selected project");
}

TEST_F(ResolveProjectPosix, ASiblingSharingTheProjectsNameAsPrefixIsOutside) {
    ASSERT_NO_FATAL_FAILURE(make_project(project));
    fs::create_directory(root / "app-old");
    fs::rename(project / "quern", root / "app-old" / "quern");
    fs::create_directory_symlink(root / "app-old" / "quern", project / "quern");
    EXPECT_EQ(resolve_error(), "GUI backend must resolve inside the selected project");
}

TEST_F(ResolveProjectPosix, ABackendScriptLinkedWithinTheProjectIsAccepted) {
    ASSERT_NO_FATAL_FAILURE(make_project(project));
    fs::rename(project / "quern" / "gui_backend.py", project / "real_backend.py");
    fs::create_symlink("../real_backend.py", project / "quern" / "gui_backend.py");
    EXPECT_EQ(resolve_error(), "resolved");
}

TEST_F(ResolveProjectPosix, PathsInMessagesReplaceInvalidUtf8) {
    const fs::path odd = root / "caf\xff";
    fs::create_directory(odd);
    EXPECT_EQ(resolve_error(odd), "Missing project Python: " + root.native() + "/caf\xEF\xBF\xBD/.venv/bin/python");
}

}  // namespace
}  // namespace quern::project
