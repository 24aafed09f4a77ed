#include <gtest/gtest.h>

#include "json/value.hpp"
#include "json/write.hpp"

namespace quern::json {
namespace {

TEST(JsonObject, KeepsKeysInByteOrderWhateverTheInsertionOrder) {
    Object object;
    object.set("type", "x");
    object.set("b", true);
    object.set("a", nullptr);
    object.set("\xC3\xA9", 1.0);  // non-ASCII sorts after every ASCII key
    object.set("ab", false);
    std::vector<std::string> keys;
    for (const Member& member : object) keys.push_back(member.key);
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "ab", "b", "type", "\xC3\xA9"}));
}

TEST(JsonObject, SettingAPresentKeyReplacesItsValue) {
    Object object;
    object.set("id", Value::from_unsigned(1));
    object.set("id", Value::from_unsigned(2));
    ASSERT_EQ(object.size(), 1u);
    EXPECT_EQ(*object.find("id"), Value::from_unsigned(2));
    EXPECT_EQ(object.find("missing"), nullptr);
}

TEST(JsonObject, FromMembersKeepsTheLastOfRepeatedKeys) {
    std::vector<Member> members;
    members.push_back({"id", Value::from_unsigned(1)});
    members.push_back({"command", "status"});
    members.push_back({"id", Value::from_unsigned(2)});
    Object object = Object::from_members(std::move(members));
    EXPECT_EQ(to_compact_text(object), R"({"command":"status","id":2})");
}

TEST(JsonValue, NumberKindsStayApart) {
    EXPECT_EQ(Value::from_signed(7).kind(), Kind::Unsigned);
    EXPECT_EQ(Value::from_signed(-7).kind(), Kind::Negative);
    EXPECT_EQ(Value::from_double(7.0).kind(), Kind::Float);
    EXPECT_FALSE(Value::from_unsigned(7) == Value::from_double(7.0));
    EXPECT_TRUE(Value::from_signed(7) == Value::from_unsigned(7));
}

}  // namespace
}  // namespace quern::json
