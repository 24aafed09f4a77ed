#include <gtest/gtest.h>

#include <filesystem>

#include "platform/os_error.hpp"
#include "platform/path.hpp"
#include "support/scratch_directory.hpp"

namespace quern::platform {
namespace {

bool ends_with(const OsString& text, const OsString& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(Win32Path, FinalPathsCarryTheExtendedLengthPrefix) {
    testing::ScratchDirectory scratch;
    base::Result<OsString> resolved = final_path(scratch.path().native());
    ASSERT_TRUE(resolved.ok()) << resolved.error();
    EXPECT_EQ(resolved.value().substr(0, 4), LR"(\\?\)");
    EXPECT_TRUE(ends_with(resolved.value(), L"\\" + scratch.path().filename().native()))
        << to_utf8_lossy(resolved.value());
    EXPECT_TRUE(is_absolute_path(resolved.value()));
}

TEST(Win32Path, ForwardSlashesAndATrailingSeparatorResolveAlike) {
    testing::ScratchDirectory scratch;
    OsString slashed = scratch.path().native() + L"/";
    for (wchar_t& c : slashed) c = c == L'\\' ? L'/' : c;
    base::Result<OsString> plain = final_path(scratch.path().native());
    base::Result<OsString> other = final_path(slashed);
    ASSERT_TRUE(plain.ok() && other.ok());
    EXPECT_EQ(plain.value(), other.value());
}

TEST(Win32Path, FinalPathOfAMissingPathIsTheOsError) {
    testing::ScratchDirectory scratch;
    base::Result<OsString> resolved = final_path((scratch.path() / "missing").native());
    ASSERT_FALSE(resolved.ok());
    EXPECT_EQ(resolved.error(), os_error_text(2));
}

TEST(Win32Path, KindTests) {
    testing::ScratchDirectory scratch;
    testing::write_file(scratch.path() / "file", "x");
    EXPECT_TRUE(is_directory(scratch.path().native()));
    EXPECT_FALSE(is_file(scratch.path().native()));
    EXPECT_TRUE(is_file((scratch.path() / "file").native()));
    EXPECT_FALSE(is_directory((scratch.path() / "file").native()));
    EXPECT_FALSE(is_file((scratch.path() / "missing").native()));
    EXPECT_FALSE(is_directory((scratch.path() / "missing").native()));
}

TEST(Win32Path, TheWorkingDirectoryDropsThePrefixWhereThatChangesNothing) {
    testing::ScratchDirectory scratch;
    base::Result<OsString> resolved = final_path(scratch.path().native());
    ASSERT_TRUE(resolved.ok());
    EXPECT_EQ(working_directory_form(resolved.value()), resolved.value().substr(4));
    // A trailing dot would be trimmed by the full-path conversion: the prefix stays.
    const OsString dotted = resolved.value() + L"\\name.";
    EXPECT_EQ(working_directory_form(dotted), dotted);
}

TEST(Win32Path, JoinUsesBackslashes) {
    EXPECT_EQ(join_path(LR"(\\?\C:\proj)", L".venv"), LR"(\\?\C:\proj\.venv)");
    EXPECT_TRUE(path_is_inside(LR"(\\?\c:\proj\.venv)", LR"(\\?\C:\proj)"));
}

}  // namespace
}  // namespace quern::platform
