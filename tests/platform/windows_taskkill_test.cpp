#include <gtest/gtest.h>

#include "platform/windows_taskkill.hpp"

namespace quern::platform {
namespace {

TEST(TaskkillProgram, ComesFromSystemRootOrTheDefaultWindowsDirectory) {
    EXPECT_EQ(taskkill_program(std::nullopt), u"C:\\Windows\\System32\\taskkill.exe");
    EXPECT_EQ(taskkill_program(u"C:\\Windows"), u"C:\\Windows\\System32\\taskkill.exe");
    EXPECT_EQ(taskkill_program(u"D:\\Win\\"), u"D:\\Win\\System32\\taskkill.exe");
    EXPECT_EQ(taskkill_program(u"D:/Win/"), u"D:/Win/System32\\taskkill.exe");
}

TEST(TaskkillProgram, AnEmptySystemRootGivesARelativePath) {
    EXPECT_EQ(taskkill_program(u""), u"System32\\taskkill.exe");
}

TEST(AppendWindowsComponent, ABareDriveTakesNoSeparator) {
    std::u16string path = u"E:";
    append_windows_component(path, u"System32");
    EXPECT_EQ(path, u"E:System32");
}

}  // namespace
}  // namespace quern::platform
