#include <gtest/gtest.h>

#include <filesystem>

#include "platform/path.hpp"
#include "support/scratch_directory.hpp"

namespace quern::platform {
namespace {

TEST(PosixPath, AbsoluteMeansStartingWithASlash) {
    EXPECT_TRUE(is_absolute_path("/"));
    EXPECT_TRUE(is_absolute_path("/home/q/proj"));
    for (const char* path : {"", "proj", "./proj", "../proj", "~/proj", "C:\\proj"}) {
        EXPECT_FALSE(is_absolute_path(path)) << path;
    }
}

TEST(PosixPath, JoinPutsOneSlashBetween) {
    EXPECT_EQ(join_path("/home/q/proj", ".venv"), "/home/q/proj/.venv");
    EXPECT_EQ(join_path("/", ".venv"), "/.venv");
}

TEST(PosixPath, ContainmentComparesWholeNamesExactly) {
    EXPECT_TRUE(path_is_inside("/srv/app/quern/gui_backend.py", "/srv/app"));
    EXPECT_TRUE(path_is_inside("/srv/app", "/srv/app"));
    EXPECT_TRUE(path_is_inside("/srv/app/x", "/"));
    EXPECT_FALSE(path_is_inside("/srv/app-old/quern/gui_backend.py", "/srv/app"));
    EXPECT_FALSE(path_is_inside("/srv/App/x", "/srv/app"));
    EXPECT_FALSE(path_is_inside("/srv", "/srv/app"));
    EXPECT_FALSE(path_is_inside("srv/app/x", "/srv/app"));
}

TEST(PosixPath, FinalPathResolvesEveryLink) {
    testing::ScratchDirectory scratch;
    const std::filesystem::path real = std::filesystem::canonical(scratch.path());
    std::filesystem::create_directory(real / "target");
    std::filesystem::create_directory_symlink(real / "target", real / "link");
    base::Result<OsString> resolved = final_path((scratch.path() / "link" / ".." / "link/").native());
    ASSERT_TRUE(resolved.ok()) << resolved.error();
    EXPECT_EQ(resolved.value(), (real / "target").native());
}

TEST(PosixPath, FinalPathOfAMissingPathIsTheOsError) {
    testing::ScratchDirectory scratch;
    base::Result<OsString> resolved = final_path((scratch.path() / "missing").native());
    ASSERT_FALSE(resolved.ok());
    EXPECT_EQ(resolved.error(), "No such file or directory (os error 2)");
}

TEST(PosixPath, KindTestsFollowLinks) {
    testing::ScratchDirectory scratch;
    const std::filesystem::path& dir = scratch.path();
    testing::write_file(dir / "file", "x");
    std::filesystem::create_symlink(dir / "file", dir / "file-link");
    std::filesystem::create_directory_symlink(dir, dir / "dir-link");
    std::filesystem::create_symlink(dir / "missing", dir / "dangling");
    EXPECT_TRUE(is_file((dir / "file").native()));
    EXPECT_TRUE(is_file((dir / "file-link").native()));
    EXPECT_FALSE(is_file(dir.native()));
    EXPECT_FALSE(is_file((dir / "dangling").native()));
    EXPECT_TRUE(is_directory((dir / "dir-link").native()));
    EXPECT_FALSE(is_directory((dir / "file").native()));
    EXPECT_FALSE(is_directory((dir / "missing").native()));
}

TEST(PosixPath, TheWorkingDirectoryIsTheFinalPathItself) {
    EXPECT_EQ(working_directory_form("/srv/my app"), "/srv/my app");
}

}  // namespace
}  // namespace quern::platform
