#include <gtest/gtest.h>

#include <map>

#include "base/utf8.hpp"
#include "platform/windows_rules/path.hpp"

namespace quern::platform::windows {
namespace {

TEST(WindowsAbsolutePath, DrivesWithARootAreAbsolute) {
    EXPECT_TRUE(is_absolute_path(uR"(C:\)"));
    EXPECT_TRUE(is_absolute_path(uR"(C:\proj)"));
    EXPECT_TRUE(is_absolute_path(u"C:/proj"));
    EXPECT_TRUE(is_absolute_path(uR"(z:\proj\)"));
}

TEST(WindowsAbsolutePath, SharesAndDevicePathsAreAbsolute) {
    EXPECT_TRUE(is_absolute_path(uR"(\\server\share)"));
    EXPECT_TRUE(is_absolute_path(uR"(\\server\share\proj)"));
    EXPECT_TRUE(is_absolute_path(u"//server/share/proj"));
    EXPECT_TRUE(is_absolute_path(uR"(\\?\C:\proj)"));
    EXPECT_TRUE(is_absolute_path(uR"(\\?\UNC\server\share\proj)"));
    EXPECT_TRUE(is_absolute_path(uR"(\\?\Volume{0b1c}\proj)"));
    EXPECT_TRUE(is_absolute_path(uR"(\\.\C:\proj)"));
    EXPECT_TRUE(is_absolute_path(uR"(\\.\pipe\name)"));
}

TEST(WindowsAbsolutePath, EverythingWithoutPrefixAndRootIsRefused) {
    for (const char16_t* path : {u"", u"proj", uR"(.\proj)", uR"(..\proj)", u"C:", u"C:proj", uR"(C:proj\x)",
                                 uR"(\proj)", u"/proj", uR"(\\server)", uR"(\\server\)", uR"(\\)"}) {
        EXPECT_FALSE(is_absolute_path(path)) << base::utf16_to_utf8_lossy(path);
    }
}

TEST(WindowsPathJoin, OneBackslashBetweenBaseAndName) {
    EXPECT_EQ(join_path(uR"(\\?\C:\proj)", u".venv"), uR"(\\?\C:\proj\.venv)");
    EXPECT_EQ(join_path(uR"(\\?\C:\)", u".venv"), uR"(\\?\C:\.venv)");
    EXPECT_EQ(join_path(u"C:/proj/", u"quern"), u"C:/proj/quern");
    EXPECT_EQ(join_path(join_path(join_path(uR"(\\?\UNC\srv\share\p)", u".venv"), u"Scripts"), u"python.exe"),
              uR"(\\?\UNC\srv\share\p\.venv\Scripts\python.exe)");
}

TEST(WindowsPathJoin, ABareDriveTakesNoSeparator) {
    EXPECT_EQ(join_path(u"E:", u"System32"), u"E:System32");
}

TEST(WindowsPathContainment, WholeNamesOnly) {
    EXPECT_TRUE(path_is_inside(uR"(\\?\C:\proj\.venv\Scripts\python.exe)", uR"(\\?\C:\proj)"));
    EXPECT_TRUE(path_is_inside(uR"(\\?\C:\proj\x)", uR"(\\?\C:\proj\)"));
    EXPECT_TRUE(path_is_inside(uR"(\\?\C:\proj)", uR"(\\?\C:\proj)"));
    EXPECT_FALSE(path_is_inside(uR"(\\?\C:\proj2\x)", uR"(\\?\C:\proj)"));
    EXPECT_FALSE(path_is_inside(uR"(\\?\C:\app-old\quern\gui_backend.py)", uR"(\\?\C:\app)"));
    EXPECT_FALSE(path_is_inside(uR"(\\?\C:\x)", uR"(\\?\C:\proj)"));
    EXPECT_FALSE(path_is_inside(uR"(\\?\C:\proj)", uR"(\\?\C:\proj\x)"));
}

TEST(WindowsPathContainment, OnlyTheDriveLetterIgnoresCase) {
    EXPECT_TRUE(path_is_inside(uR"(\\?\c:\proj\x)", uR"(\\?\C:\proj)"));
    EXPECT_TRUE(path_is_inside(uR"(C:\proj\x)", uR"(c:\proj)"));
    EXPECT_FALSE(path_is_inside(uR"(\\?\C:\Proj\x)", uR"(\\?\C:\proj)"));
    EXPECT_FALSE(path_is_inside(uR"(\\?\UNC\Server\share\p\x)", uR"(\\?\UNC\server\share\p)"));
}

TEST(WindowsPathContainment, PrefixesMustBeTheSame) {
    EXPECT_FALSE(path_is_inside(uR"(\\?\D:\proj\x)", uR"(\\?\C:\proj)"));
    EXPECT_FALSE(path_is_inside(uR"(C:\proj\x)", uR"(\\?\C:\proj)"));
    EXPECT_FALSE(path_is_inside(uR"(\\.\C:\proj\x)", uR"(\\?\C:\proj)"));
    EXPECT_FALSE(path_is_inside(uR"(\\?\UNC\server\share2\p)", uR"(\\?\UNC\server\share)"));
    EXPECT_FALSE(path_is_inside(uR"(\\?\UNC\server\share\p)", uR"(\\server\share)"));
}

TEST(WindowsPathContainment, SharesCompareServerShareAndNames) {
    EXPECT_TRUE(path_is_inside(uR"(\\?\UNC\server\share\p\quern\gui_backend.py)", uR"(\\?\UNC\server\share\p)"));
    EXPECT_TRUE(path_is_inside(uR"(\\server\share\p\x)", u"//server/share/p"));
    EXPECT_FALSE(path_is_inside(uR"(\\?\UNC\server\share\p2\x)", uR"(\\?\UNC\server\share\p)"));
}

TEST(WindowsPathContainment, ForwardSlashIsANameUnitAfterTheExtendedPrefix) {
    EXPECT_FALSE(path_is_inside(uR"(\\?\C:\proj/x)", uR"(\\?\C:\proj)"));
    EXPECT_TRUE(path_is_inside(u"C:/proj/x", uR"(C:\proj)"));
}

// A stand-in for GetFullPathNameW that knows a few answers.
FullPathConversion conversion(std::map<std::u16string, std::u16string> answers) {
    return [answers](const std::u16string& path) -> std::optional<std::u16string> {
        auto found = answers.find(path);
        if (found == answers.end()) return path;
        return found->second;
    };
}

TEST(WindowsWorkingDirectory, PrefixDroppedWhenTheShortFormStaysTheSame) {
    const FullPathConversion unchanged = conversion({});
    EXPECT_EQ(working_directory(uR"(\\?\C:\proj)", unchanged), uR"(C:\proj)");
    EXPECT_EQ(working_directory(uR"(\\?\C:\my proj)", unchanged), uR"(C:\my proj)");
    EXPECT_EQ(working_directory(uR"(\\?\UNC\server\share\p)", unchanged), uR"(\\server\share\p)");
}

TEST(WindowsWorkingDirectory, FinalPathKeptWhenTheConversionChangesOrFails) {
    const FullPathConversion trims = conversion({{uR"(C:\proj.)", uR"(C:\proj)"}});
    EXPECT_EQ(working_directory(uR"(\\?\C:\proj.)", trims), uR"(\\?\C:\proj.)");
    const FullPathConversion fails = [](const std::u16string&) { return std::optional<std::u16string>(); };
    EXPECT_EQ(working_directory(uR"(\\?\C:\proj)", fails), uR"(\\?\C:\proj)");
}

TEST(WindowsWorkingDirectory, PathsWithoutThePrefixStayAsTheyAre) {
    EXPECT_EQ(working_directory(uR"(C:\proj)", conversion({})), uR"(C:\proj)");
}

TEST(TaskkillProgram, ComesFromSystemRootOrTheDefaultWindowsDirectory) {
    EXPECT_EQ(taskkill_program(std::nullopt), u"C:\\Windows\\System32\\taskkill.exe");
    EXPECT_EQ(taskkill_program(u"C:\\Windows"), u"C:\\Windows\\System32\\taskkill.exe");
    EXPECT_EQ(taskkill_program(u"D:\\Win\\"), u"D:\\Win\\System32\\taskkill.exe");
    EXPECT_EQ(taskkill_program(u"D:/Win/"), u"D:/Win/System32\\taskkill.exe");
}

TEST(TaskkillProgram, AnEmptySystemRootGivesARelativePath) {
    EXPECT_EQ(taskkill_program(u""), u"System32\\taskkill.exe");
}

}  // namespace
}  // namespace quern::platform::windows
