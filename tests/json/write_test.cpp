#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "json/write.hpp"

namespace quern::json {
namespace {

TEST(CompactText, ScalarsAndEmptyContainers) {
    EXPECT_EQ(to_compact_text(Value()), "null");
    EXPECT_EQ(to_compact_text(true), "true");
    EXPECT_EQ(to_compact_text(false), "false");
    EXPECT_EQ(to_compact_text(Object()), "{}");
    EXPECT_EQ(to_compact_text(Array()), "[]");
    EXPECT_EQ(to_compact_text(""), R"("")");
}

TEST(CompactText, IntegersAreExact) {
    EXPECT_EQ(to_compact_text(Value::from_unsigned(std::numeric_limits<std::uint64_t>::max())),
              "18446744073709551615");
    EXPECT_EQ(to_compact_text(Value::from_signed(std::numeric_limits<std::int64_t>::min())),
              "-9223372036854775808");
    EXPECT_EQ(to_compact_text(Value::from_unsigned(0)), "0");
    EXPECT_EQ(to_compact_text(Value::from_double(7.0)), "7.0");
}

TEST(CompactText, EscapesOnlyQuoteBackslashAndControlCharacters) {
    std::string all_controls;
    for (char c = 0; c < 0x20; ++c) all_controls += c;
    EXPECT_EQ(to_compact_text(all_controls),
              R"("\u0000\u0001\u0002\u0003\u0004\u0005\u0006\u0007\b\t\n\u000b\f\r\u000e\u000f)"
              R"(\u0010\u0011\u0012\u0013\u0014\u0015\u0016\u0017\u0018\u0019\u001a\u001b\u001c\u001d\u001e\u001f")");
    EXPECT_EQ(to_compact_text("say \"hi\" \\ back"), R"("say \"hi\" \\ back")");
    // 0x7F, the solidus and non-ASCII text go out as their own bytes.
    EXPECT_EQ(to_compact_text("a/b\x7F\xC3\xA9\xF0\x9F\x98\x80"), "\"a/b\x7F\xC3\xA9\xF0\x9F\x98\x80\"");
}

TEST(CompactText, NestedObjectsAreSortedAtEveryDepthWithoutWhitespace) {
    Object inner;
    inner.set("z", Value::from_unsigned(1));
    inner.set("a", Array{Value(), Value::from_double(1.5), Value("s")});
    Object outer;
    outer.set("type", "event");
    outer.set("data", inner);
    outer.set("b", Object());
    EXPECT_EQ(to_compact_text(outer), R"({"b":{},"data":{"a":[null,1.5,"s"],"z":1},"type":"event"})");
}

TEST(CompactText, KeysAreEscapedLikeValues) {
    Object object;
    object.set("line\nbreak", "x");
    EXPECT_EQ(to_compact_text(object), R"({"line\nbreak":"x"})");
}

}  // namespace
}  // namespace quern::json
