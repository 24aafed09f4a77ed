#include <gtest/gtest.h>

#include "base/utf8.hpp"

namespace quern::base {
namespace {

TEST(Utf8Validation, AcceptsWellFormedTextIncludingNul) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8(std::string_view("a\0b", 3)));
    EXPECT_TRUE(is_valid_utf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"));
}

TEST(Utf8Validation, RefusesIllFormedSequences) {
    EXPECT_FALSE(is_valid_utf8("\xFF"));
    EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(is_valid_utf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate U+D800
    EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(is_valid_utf8("\xC3"));              // cut short
    EXPECT_FALSE(is_valid_utf8("a\x80z"));            // stray continuation
}

TEST(Utf8Lossy, ReplacesOnlyTheBadBytes) {
    EXPECT_EQ(utf8_lossy("ok\xC3\xA9"), "ok\xC3\xA9");
    EXPECT_EQ(utf8_lossy("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
}

TEST(Utf16Conversion, PairsBecomeOneCodePointAndLoneSurrogatesAreReplaced) {
    EXPECT_EQ(utf16_to_utf8_lossy(u"C:\\\u00e9\U0001F600"), "C:\\\xC3\xA9\xF0\x9F\x98\x80");
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(utf16_to_utf8_lossy(lone), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(utf8_to_utf16("\xC3\xA9\xF0\x9F\x98\x80"), u"\u00e9\U0001F600");
}

}  // namespace
}  // namespace quern::base
