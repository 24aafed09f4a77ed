#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "json/fast_parse.hpp"
#include "json/parse.hpp"
#include "json/write.hpp"

namespace quern::json {
namespace {

// The fast path may decline anything, but what it accepts must be exactly what
// the exact path makes of it.
void expect_same_as_exact(std::string_view text) {
    std::optional<Value> fast = detail::parse_common(text, kMaxDepth);
    base::Result<Value> exact = detail::parse_json_exact(text);
    if (fast) {
        ASSERT_TRUE(exact.ok()) << "fast path accepted what is an error: " << text << " (" << exact.error() << ")";
        EXPECT_EQ(to_compact_text(*fast), to_compact_text(exact.value())) << text;
        EXPECT_TRUE(*fast == exact.value()) << text;
    }
}

TEST(FastParse, AcceptsCommonTextsExactlyAsTheExactPath) {
    const std::vector<std::string> texts = {
        R"({"type":"event","b":1.50,"a":1e2,"a":[true,false,null],"s":"\u00e9\/\n\"\\","n":-0})",
        R"(  [ 1 , -2 , 3.25e-3 , 18446744073709551615 , 18446744073709551616 , -9223372036854775808 ]  )",
        R"({"emoji":"\ud83d\ude00","raw":"€✓","ctl":"\b\f\r\t","z":{}})",
        "0", "-0", "1e-400", "0e400", "\"\"", "[]", "{}", "[[[]]]", "true", "null",
        std::string(kMaxDepth, '[') + std::string(kMaxDepth, ']'),
    };
    for (const std::string& text : texts) {
        ASSERT_TRUE(detail::parse_common(text, kMaxDepth).has_value()) << text;
        expect_same_as_exact(text);
    }
}

TEST(FastParse, LeavesEveryFaultToTheExactPath) {
    const std::vector<std::string> texts = {
        "", " ", "{", "[1,]", "{\"a\"}", "{\"a\":1,}", "01", "1.", "-", "+1", ".5", "1e", "[1 2]",
        "\"\\x\"", "\"\\ud800\"", "\"\\udc00\"", "\"\\ud800\\u0041\"", std::string("\"a\0b\"", 5), "\"\x01\"",
        "\"\xff\"", "1e400", "[1" + std::string(400, '0') + "]", "nul", "tru", "[] x", "{\"a\":1}}",
        std::string(kMaxDepth + 1, '[') + std::string(kMaxDepth + 1, ']'),
    };
    for (const std::string& text : texts) {
        EXPECT_FALSE(detail::parse_common(text, kMaxDepth).has_value()) << text;
        expect_same_as_exact(text);
    }
}

// Random texts built from JSON's own pieces, right and wrong: seeded, so a
// failure repeats.
TEST(FastParse, RandomTextsAgreeWithTheExactPath) {
    std::mt19937 random(20261209);
    const std::vector<std::string> pieces = {
        "{", "}", "[", "]", ",", ":", " ", "\"k\"", "\"a\\u00e9\"", "\"\\ud83d\\ude00\"", "\"\\n\"", "1", "-0",
        "2.5", "1e5", "-1E-2", "0.000001", "99999999999999999999", "true", "false", "null", "\"x\"", "\"\\\"\"", "\t"};
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 24);
        for (int i = 0; i < length; ++i) text += pieces[random() % pieces.size()];
        expect_same_as_exact(text);
    }
}

}  // namespace
}  // namespace quern::json
