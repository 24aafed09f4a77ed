#include <gtest/gtest.h>

#include <string>

#include "json/parse.hpp"

namespace quern::json {
namespace {

struct MalformedCase {
    const char* text;
    const char* error;
};

// One realistic malformed request line for every description the parser gives.
const MalformedCase kMalformed[] = {
    {"", "EOF while parsing a value at line 1 column 0"},
    {"\r\r", "EOF while parsing a value at line 1 column 2"},
    {R"({"id":1,"command":[1,2)", "EOF while parsing a list at line 1 column 22"},
    {R"({"id":1,"command":[)", "EOF while parsing a list at line 1 column 19"},
    {R"({"id":1,"command":"status")", "EOF while parsing an object at line 1 column 26"},
    {R"({"id":1,)", "EOF while parsing an object at line 1 column 8"},
    {R"({"id":1,"command":"sta)", "EOF while parsing a string at line 1 column 22"},
    {R"({"id":1,"command":"sta\)", "EOF while parsing a string at line 1 column 23"},
    {R"({"id":1,"command":)", "EOF while parsing a value at line 1 column 18"},
    {R"({"id":tru)", "EOF while parsing a value at line 1 column 9"},
    {R"({"id" 1})", "expected `:` at line 1 column 7"},
    {R"([1 2])", "expected `,` or `]` at line 1 column 4"},
    {R"({"id":1 "command":"status"})", "expected `,` or `}` at line 1 column 9"},
    {R"({"id":trve})", "expected ident at line 1 column 9"},
    {R"({"id":nul,"command":"status"})", "expected ident at line 1 column 10"},
    {R"({"id":'a'})", "expected value at line 1 column 7"},
    {R"({id:1})", "key must be a string at line 1 column 2"},
    {R"({"id":1,})", "trailing comma at line 1 column 9"},
    {R"([1,2,])", "trailing comma at line 1 column 6"},
    {R"({"id":1,"command":"status"} x)", "trailing characters at line 1 column 29"},
    {R"({"id":1}{"id":2})", "trailing characters at line 1 column 9"},
    {R"({"id":"\q"})", "invalid escape at line 1 column 8"},
    {R"({"id":"\u12x4"})", "invalid escape at line 1 column 8"},
    {R"({"id":"\u12)", "unexpected end of hex escape at line 1 column 8"},
    {R"({"id":-x})", "invalid number at line 1 column 8"},
    {R"({"id":1.})", "invalid number at line 1 column 9"},
    {R"({"id":1e})", "invalid number at line 1 column 9"},
    {"{\"id\":\"a\tb\"}", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 9"},
    {R"({"id":"\ud800"})", "lone leading surrogate in hex escape at line 1 column 8"},
    {R"({"id":"\ud800\u0041"})", "lone leading surrogate in hex escape at line 1 column 8"},
    {R"({"id":"\udc00"})", "invalid unicode code point at line 1 column 15"},
    {"{\"id\":\"\xFF\"}", "invalid unicode code point at line 1 column 8"},
    {R"({"id":1e999})", "number out of range at line 1 column 7"},
};

TEST(ParseErrors, EachMalformedTextGetsItsDescriptionAndPosition) {
    for (const MalformedCase& c : kMalformed) {
        auto result = parse_json(c.text);
        ASSERT_FALSE(result.ok()) << c.text;
        EXPECT_EQ(result.error(), c.error) << "for the text: " << c.text;
    }
}

TEST(ParseErrors, LinesAndColumnsCountFromOneAfterEachLineFeed) {
    EXPECT_EQ(parse_json("{\n  \"id\": 1,\n  \"x\" 2\n}").error(), "expected `:` at line 3 column 7");
    EXPECT_EQ(parse_json("[\n").error(), "EOF while parsing a list at line 2 column 0");
    EXPECT_EQ(parse_json("[1,\n\n 2,]").error(), "trailing comma at line 3 column 4");
}

TEST(ParseErrors, ColumnsCountBytesNotCharacters) {
    // "é" is two bytes: the stray x after it is at byte 11 of the line.
    EXPECT_EQ(parse_json("[\"\xC3\xA9\",1 x]").error(), "expected `,` or `]` at line 1 column 9");
}

}  // namespace
}  // namespace quern::json
