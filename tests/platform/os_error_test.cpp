#include <gtest/gtest.h>

#include "platform/os_error.hpp"

namespace quern::platform {
namespace {

TEST(OsErrorText, SystemTextLosesTrailingWhiteSpaceAndGainsTheCode) {
    EXPECT_EQ(format_os_error("The system cannot find the file specified.\r\n", 2),
              "The system cannot find the file specified. (os error 2)");
    EXPECT_EQ(format_os_error("Access is denied.  \t", 5), "Access is denied. (os error 5)");
}

TEST(OsErrorText, UnknownCodesNameTheFailedLookup) {
    EXPECT_EQ(format_unknown_os_error(3735928559u, 317),
              "OS Error 3735928559 (FormatMessageW() returned error 317)");
}

TEST(OsErrorText, TheSystemDescribesARealError) {
#ifdef _WIN32
    // The wording differs between Windows versions (and Wine); the form does not.
    const std::string text = os_error_text(2);
    EXPECT_GT(text.size(), std::string(". (os error 2)").size());
    EXPECT_EQ(text.substr(text.size() - 14), ". (os error 2)") << text;
    EXPECT_EQ(os_error_text(3735928559u), "OS Error 3735928559 (FormatMessageW() returned error 317)");
#else
    EXPECT_EQ(os_error_text(2), "No such file or directory (os error 2)");
    EXPECT_EQ(os_error_text(32), "Broken pipe (os error 32)");
#endif
}

}  // namespace
}  // namespace quern::platform
