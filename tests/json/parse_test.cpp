#include <gtest/gtest.h>

#include <string>

#include "json/parse.hpp"
#include "json/write.hpp"

namespace quern::json {
namespace {

Value parsed(std::string_view text) {
    auto result = parse_json(text);
    EXPECT_TRUE(result.ok()) << "for " << text << ": " << (result.ok() ? "" : result.error());
    return result.ok() ? result.value() : Value();
}

// The canonical text of a parsed value: what the runtime writes back out.
std::string round_trip(std::string_view text) { return to_compact_text(parsed(text)); }

TEST(ParseNumbers, IntegersKeepTheirKind) {
    EXPECT_EQ(parsed("0").kind(), Kind::Unsigned);
    EXPECT_EQ(parsed("18446744073709551615").as_unsigned(), 18446744073709551615u);
    EXPECT_EQ(parsed("-1").as_negative(), -1);
    EXPECT_EQ(parsed("-9223372036854775808").kind(), Kind::Negative);
}

TEST(ParseNumbers, FractionsExponentsAndHugeIntegersAreFloats) {
    EXPECT_EQ(parsed("7.0").kind(), Kind::Float);
    EXPECT_EQ(parsed("1e2").kind(), Kind::Float);
    EXPECT_EQ(round_trip("1e2"), "100.0");
    EXPECT_EQ(round_trip("1.50"), "1.5");
    EXPECT_EQ(round_trip("18446744073709551616"), "1.8446744073709552e+19");
    EXPECT_EQ(round_trip("-9223372036854775809"), "-9.223372036854776e+18");
    EXPECT_EQ(round_trip("-0"), "-0.0");
    EXPECT_EQ(round_trip("5e-324"), "5e-324");
    EXPECT_EQ(round_trip("1.7976931348623157e308"), "1.7976931348623157e+308");
}

TEST(ParseNumbers, UnderflowBecomesZeroAndOverflowIsRefused) {
    EXPECT_EQ(round_trip("1e-400"), "0.0");
    EXPECT_EQ(round_trip("-1e-400"), "-0.0");
    auto result = parse_json("[1e400]");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().rfind("number out of range at line 1 column ", 0), 0u) << result.error();
}

// RapidJSON's own scanner refuses these by their spelling; their values fit.
TEST(ParseNumbers, RangeIsDecidedOnTheValueNotTheSpelling) {
    EXPECT_EQ(round_trip("0e400"), "0.0");
    EXPECT_EQ(round_trip("-0E+999"), "-0.0");
    EXPECT_EQ(round_trip("1" + std::string(310, '0') + "e-300"), "10000000000.0");
    EXPECT_EQ(round_trip("[0.1e309,\"1e400\",{\"k\":-0e1000}]"), "[1e+308,\"1e400\",{\"k\":-0.0}]");
    // A number that truly overflows is refused where it starts, as before.
    for (const std::string& text : {std::string("1e400"), "[1" + std::string(400, '0') + "]", std::string("1.8e308")}) {
        auto result = parse_json(text);
        ASSERT_FALSE(result.ok()) << text;
        EXPECT_EQ(result.error().rfind("number out of range at line 1 column ", 0), 0u) << result.error();
    }
    // A second exponent after such a number is refused exactly as before, not
    // carried into the number.
    const std::pair<std::string, std::string> malformed[] = {
        {"0e400e5", "number out of range at line 1 column 1"},
        {"[0e100E1]", "expected `,` or `]` at line 1 column 7"},
        {"-0e999e-1", "number out of range at line 1 column 1"},
    };
    for (const auto& [text, message] : malformed) {
        auto result = parse_json(text);
        ASSERT_FALSE(result.ok()) << text;
        EXPECT_EQ(result.error(), message) << text;
    }
    auto column = parse_json("[1, 2e999]");
    ASSERT_FALSE(column.ok());
    EXPECT_EQ(column.error(), "number out of range at line 1 column 5");
}

// A number whose value fits but whose spelling RapidJSON refuses, followed by
// a second exponent: the first exponent ends the number, and the text is wrong
// from the second on.
TEST(ParseNumbers, ASecondExponentIsRefusedHoweverTheFirstIsSpelled) {
    const auto error_of = [](const std::string& text) {
        auto result = parse_json(text);
        return result.ok() ? std::string("accepted") : result.error();
    };
    EXPECT_EQ(error_of("1e-400e5"), "trailing characters at line 1 column 7");
    EXPECT_EQ(error_of("[-1e-400E1]"), "expected `,` or `]` at line 1 column 9");
    for (const std::string& text : {std::string("{\"k\":1e100e5}"), std::string("0e400e5"),
                                    "1" + std::string(310, '0') + "e-300e1"}) {
        EXPECT_FALSE(parse_json(text).ok()) << text;
    }
}

TEST(ParseObjects, KeysComeOutInByteOrderAndTheLastDuplicateWins) {
    EXPECT_EQ(round_trip(R"({ "type" : "x", "b" : 1, "a" : 2 })"), R"({"a":2,"b":1,"type":"x"})");
    EXPECT_EQ(round_trip(R"({"id":1,"id":2,"command":"status"})"), R"({"command":"status","id":2})");
    EXPECT_EQ(round_trip(R"({"a":{"z":[],"y":{}}})"), R"({"a":{"y":{},"z":[]}})");
}

TEST(ParseStrings, EscapesDecodeToTheSameText) {
    EXPECT_EQ(parsed(R"("\u0037")").as_string(), "7");
    EXPECT_EQ(parsed(R"("\/\b\f\n\r\t\"\\")").as_string(), "/\b\f\n\r\t\"\\");
    EXPECT_EQ(parsed(R"("\u00e9\ud83d\ude00")").as_string(), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(round_trip(R"("\u007f\u001F")"), "\"\x7F\\u001f\"");
}

TEST(ParseStrings, EscapedNulIsKeptInsideTheString) {
    Value value = parsed(R"("a\u0000b")");
    EXPECT_EQ(value.as_string(), std::string("a\0b", 3));
    EXPECT_EQ(to_compact_text(value), R"("a\u0000b")");
}

TEST(ParseWhitespace, OnlyJsonWhitespaceMayFollow) {
    EXPECT_EQ(round_trip(" \t\r\n[1] \t\r\n"), "[1]");
    EXPECT_FALSE(parse_json("[1] x").ok());
    EXPECT_FALSE(parse_json("[1]\f").ok());
    EXPECT_FALSE(parse_json("[1]\v").ok());
}

TEST(ParseNul, ANulByteIsAFaultWhereverItStands) {
    using namespace std::string_literals;
    EXPECT_EQ(parse_json("{}\0"s).error(), "trailing characters at line 1 column 3");
    EXPECT_EQ(parse_json("{}\0garbage"s).error(), "trailing characters at line 1 column 3");
    EXPECT_EQ(parse_json("\0{}"s).error(), "expected value at line 1 column 1");
    EXPECT_EQ(parse_json("[1,\0]"s).error(), "expected value at line 1 column 4");
    EXPECT_EQ(parse_json("\"a\0b\""s).error(),
              "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3");
}

std::string nested_arrays(int depth) { return std::string(static_cast<std::size_t>(depth), '[') + std::string(static_cast<std::size_t>(depth), ']'); }

TEST(ParseDepth, AcceptsTheDeepestAllowedNestingAndRefusesOneMore) {
    EXPECT_TRUE(parse_json(nested_arrays(127)).ok());
    auto too_deep = parse_json(nested_arrays(128));
    ASSERT_FALSE(too_deep.ok());
    EXPECT_EQ(too_deep.error(), "recursion limit exceeded at line 1 column 128");
    std::string objects;
    for (int i = 0; i < 128; ++i) objects += R"({"a":)";
    EXPECT_EQ(parse_json(objects).error(), "recursion limit exceeded at line 1 column 636");
}

TEST(ParseDepth, AVeryDeepTextFailsWithoutExhaustingTheStack) {
    auto result = parse_json(std::string(1 << 20, '['));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), "recursion limit exceeded at line 1 column 128");
}

TEST(ParseScalars, LiteralsAndTopLevelScalars) {
    EXPECT_TRUE(parsed("null").is_null());
    EXPECT_EQ(parsed("true"), Value(true));
    EXPECT_EQ(parsed("false"), Value(false));
    EXPECT_EQ(parsed(R"("")").as_string(), "");
}

}  // namespace
}  // namespace quern::json
