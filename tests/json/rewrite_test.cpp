#include "json/rewrite.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/utf8.hpp"
#include "json/parse.hpp"
#include "json/write.hpp"

namespace quern::json {
namespace {

// The rewriter may decline anything, but what it writes must be exactly the
// compact text of parse_json's value, and it must never accept an error.
// Returns whether it wrote.
bool expect_same_as_parse(CompactRewriter& rewriter, std::string_view text) {
    if (!base::is_valid_utf8(text)) return false;
    std::string out = "before|";
    const bool written = rewriter.rewrite(text, out);
    base::Result<Value> parsed = parse_json(text);
    if (!written) {
        EXPECT_EQ(out, "before|") << "a declined text left output behind: " << text;
        return false;
    }
    EXPECT_TRUE(parsed.ok()) << "rewrote what is an error: " << text;
    if (parsed.ok()) {
        EXPECT_EQ(out, "before|" + to_compact_text(parsed.value())) << text;
    }
    return true;
}

TEST(CompactRewrite, WritesCommonTextsExactlyAsTheParsedValue) {
    CompactRewriter rewriter;
    const std::vector<std::string> texts = {
        R"({"type":"event","b":1.50,"a":1e2,"a":[true,false,null],"s":"\u00e9\/\n\"\\","n":-0})",
        R"(  [ 1 , -2 , 3.25e-3 , 18446744073709551615 , 18446744073709551616 , -9223372036854775808 ]  )",
        R"({"emoji":"\ud83d\ude00","raw":"€✓","ctl":"\b\f\r\t\u0001\u001F\u007f","z":{}})",
        R"({"b":{"y":1,"x":[{"q":1,"p":2}]},"a":{"d":1,"c":2,"d":3},"a":{"k":"last"}})",
        R"({"\u0061":1,"a":2,"\n":3,"\"":4,"\\":5,"é":6,"\u00e9":7,"":8,"z\u0000":9,"z":10})",
        R"([1.0,-1.0,0.1,100,1e15,1e16,1.5e-7,0.00001,0.000015,123456789012345.6,1.7976931348623157e308])",
        R"([5e-324,1e-400,-1e-400,0e400,-0.0,0.0e0,1E+2,1e-0,00.5e1])",
        R"([12345678901234567890,-12345678901234567890,-9223372036854775809,9999999999999999999])",
        R"([0.30000000000000004,2.5E3,1.0E-7,3.2e-10,-77.892578125,313285832357449.0,1234.5e-3])",
        "0", "-0", "\"\"", "[]", "{}", "[[[]]]", "true", "null", "false", "[{},[],\"\",0]",
        std::string(kMaxDepth, '[') + std::string(kMaxDepth, ']'),
        std::string(kMaxDepth - 1, '[') + "{\"b\":1,\"a\":2}" + std::string(kMaxDepth - 1, ']'),
    };
    for (const std::string& text : texts) expect_same_as_parse(rewriter, text);
    // These are all plainly well-formed: the rewriter takes every one itself.
    for (const std::string& text : texts) {
        if (text.find("00.5e1") != std::string::npos || text.find("1e-400") != std::string::npos) continue;
        std::string out;
        EXPECT_TRUE(rewriter.rewrite(text, out)) << text;
    }
}

TEST(CompactRewrite, DeclinesEveryFaultAndLeavesTheOutputAsItWas) {
    CompactRewriter rewriter;
    const std::vector<std::string> texts = {
        "", " ", "{", "[1,]", "{\"a\"}", "{\"a\":1,}", "01", "1.", "-", "+1", ".5", "1e", "[1 2]", "[1,,2]",
        "\"\\x\"", "\"\\ud800\"", "\"\\udc00\"", "\"\\ud800\\u0041\"", "\"\\ud800\\\"", std::string("\"a\0b\"", 5),
        "\"\x01\"", "1e400", "-1e400", "[1" + std::string(400, '0') + "]", "nul", "tru", "[] x", "{\"a\":1}}",
        "{\"a\" 1}", "{1:2}", "\"abc", "\"\\u12\"", "[-]", "[1e+]", "{\"a\":1 \"b\":2}",
        std::string(kMaxDepth + 1, '[') + std::string(kMaxDepth + 1, ']'),
        std::string(kMaxDepth, '[') + "{}" + std::string(kMaxDepth, ']'),
    };
    for (const std::string& text : texts) {
        std::string out = "kept";
        EXPECT_FALSE(rewriter.rewrite(text, out)) << text;
        EXPECT_EQ(out, "kept") << text;
        expect_same_as_parse(rewriter, text);
    }
}

// Random texts built from JSON's own pieces, right and wrong, many of them
// objects with repeated and unordered keys: seeded, so a failure repeats.
TEST(CompactRewrite, RandomTextsAgreeWithTheParsedValue) {
    std::mt19937 random(20261209);
    CompactRewriter rewriter;
    const std::vector<std::string> pieces = {
        "{", "}", "[", "]", ",", ":", " ", "\"k\"", "\"a\\u00e9\"", "\"\\ud83d\\ude00\"", "\"\\n\"", "1", "-0",
        "2.5", "1e5", "-1E-2", "0.000001", "99999999999999999999", "true", "false", "null", "\"x\"", "\"\\\"\"",
        "\t", "\"k\":", "\"b\":", "\"\\u006b\":", "{\"a\":", "0.1e1", "123.456e-300", "7e22"};
    int written = 0;
    for (int round = 0; round < 40000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 24);
        for (int i = 0; i < length; ++i) text += pieces[random() % pieces.size()];
        written += expect_same_as_parse(rewriter, text) ? 1 : 0;
    }
    EXPECT_GT(written, 1000);
}

// Floats are where a shortcut could go wrong: every spelling of many values,
// against the exact conversion and append_float.
TEST(CompactRewrite, FloatsOfEverySpellingAgreeWithTheExactConversion) {
    std::mt19937_64 random(7);
    CompactRewriter rewriter;
    for (int round = 0; round < 20000; ++round) {
        const int digits = 1 + static_cast<int>(random() % 18);
        std::string mantissa;
        for (int i = 0; i < digits; ++i) mantissa += static_cast<char>('0' + random() % 10);
        const std::size_t point = random() % (mantissa.size() + 1);
        std::string text = random() % 2 ? "-" : "";
        std::string whole = mantissa.substr(0, point);
        std::string fraction = mantissa.substr(point);
        whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
        text += whole.empty() ? "0" : whole;
        if (!fraction.empty()) text += "." + fraction;
        if (random() % 2) {
            text += random() % 2 ? "e" : "E";
            const int exponent = static_cast<int>(random() % 700) - 350;
            text += (exponent >= 0 && random() % 2) ? "+" : "";
            text += std::to_string(exponent);
        }
        expect_same_as_parse(rewriter, text);
        expect_same_as_parse(rewriter, "[" + text + "]");
    }
}

// Many digits can move a huge exponent back into range: the exponent is read
// whole, not cut where it could no longer matter for a short number.
TEST(CompactRewrite, LongMantissasBalanceHugeExponents) {
    CompactRewriter rewriter;
    const std::string zeros(99990, '0');
    for (const std::string& text : {"0." + zeros + "1e100050", "1" + zeros + "e-100000", "-0." + zeros + "25E+99999"}) {
        EXPECT_TRUE(expect_same_as_parse(rewriter, text)) << text.size();
    }
}

TEST(CompactRewrite, TopLevelMembersAreFoundInTheWrittenText) {
    CompactRewriter rewriter;
    std::string out = "x";
    ASSERT_TRUE(rewriter.rewrite(R"({ "type" : "response", "z":[1], "id" : {"b":2,"a":1}, "id":{"b":1}})", out));
    EXPECT_EQ(out, R"(x{"id":{"b":1},"type":"response","z":[1]})");
    EXPECT_EQ(rewriter.top_level_member("type"), std::optional<std::string_view>(R"("response")"));
    EXPECT_EQ(rewriter.top_level_member("id"), std::optional<std::string_view>(R"({"b":1})"));
    EXPECT_EQ(rewriter.top_level_member("b"), std::nullopt);

    out.clear();
    ASSERT_TRUE(rewriter.rewrite(R"({"\u0074ype":"\u0072esponse","id":7})", out));
    EXPECT_EQ(rewriter.top_level_member("type"), std::optional<std::string_view>(R"("response")"));
    EXPECT_EQ(rewriter.top_level_member("id"), std::optional<std::string_view>("7"));

    out.clear();
    ASSERT_TRUE(rewriter.rewrite(R"([{"type":"event"}])", out));
    EXPECT_EQ(rewriter.top_level_member("type"), std::nullopt);

    out.clear();
    EXPECT_FALSE(rewriter.rewrite(R"({"type":"event",})", out));
    EXPECT_EQ(rewriter.top_level_member("type"), std::nullopt);
}

TEST(CompactRewrite, LargeTextsWithManyUnorderedMembersAgree) {
    std::mt19937 random(3);
    CompactRewriter rewriter;
    for (int round = 0; round < 20; ++round) {
        std::string text = "{";
        for (int i = 0; i < 2000; ++i) {
            if (i > 0) text += ',';
            text += "\"k" + std::to_string(random() % 500) + "\":{\"v\":\"" + std::string(random() % 300, 'x') +
                    "\\t\",\"u\":" + std::to_string(random()) + "}";
        }
        text += "}";
        EXPECT_TRUE(expect_same_as_parse(rewriter, text));
    }
}

std::vector<std::string> conformance_texts() {
    std::vector<std::string> texts;
    for (const auto& entry : std::filesystem::directory_iterator(QUERN_JSON_CONFORMANCE_DIR)) {
        std::ifstream file(entry.path(), std::ios::binary);
        texts.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return texts;
}

TEST(CompactRewrite, ThePublicConformanceTextsAgree) {
    CompactRewriter rewriter;
    const std::vector<std::string> texts = conformance_texts();
    ASSERT_GE(texts.size(), 300u);
    for (const std::string& text : texts) expect_same_as_parse(rewriter, text);
}

}  // namespace
}  // namespace quern::json
