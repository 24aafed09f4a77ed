// The parsing tests of a public JSON conformance suite (conformance/, with its
// licence): every y_ text is accepted, every n_ text refused, and the i_ texts,
// on which the standard leaves parsers free, are decided as the runtime means
// to. A text is taken the way the runtime takes a line: UTF-8 first, then the
// parser.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "base/utf8.hpp"
#include "json/parse.hpp"
#include "json/write.hpp"

namespace quern::json {
namespace {

struct Case {
    std::string name;
    std::string text;
};

std::vector<Case> cases_starting_with(char verdict) {
    std::vector<Case> cases;
    for (const auto& entry : std::filesystem::directory_iterator(QUERN_JSON_CONFORMANCE_DIR)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 2 || name[0] != verdict || name[1] != '_') continue;
        std::ifstream file(entry.path(), std::ios::binary);
        cases.push_back({name, std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>())});
    }
    return cases;
}

bool accepted(const std::string& text) { return base::is_valid_utf8(text) && parse_json(text).ok(); }

TEST(JsonConformance, EveryTextThatMustBeAcceptedIsAndWritesBackToTheSameValue) {
    const std::vector<Case> cases = cases_starting_with('y');
    ASSERT_GE(cases.size(), 90u);
    for (const Case& c : cases) {
        ASSERT_TRUE(base::is_valid_utf8(c.text)) << c.name;
        base::Result<Value> parsed = parse_json(c.text);
        ASSERT_TRUE(parsed.ok()) << c.name << ": " << parsed.error();
        const std::string written = to_compact_text(parsed.value());
        base::Result<Value> again = parse_json(written);
        ASSERT_TRUE(again.ok()) << c.name << ": " << written;
        EXPECT_EQ(to_compact_text(again.value()), written) << c.name;
    }
}

TEST(JsonConformance, EveryTextThatMustBeRefusedIs) {
    const std::vector<Case> cases = cases_starting_with('n');
    ASSERT_GE(cases.size(), 180u);
    for (const Case& c : cases) EXPECT_FALSE(accepted(c.text)) << c.name;
}

// Where the standard leaves the choice: a number is taken when a double holds
// its value (beyond 64-bit integers, or under the smallest double as zero) and
// refused when it overflows; a string must be text the runtime can write back
// as UTF-8 (no lone surrogates, no invalid or overlong bytes, no byte-order
// mark); nesting stops at the depth limit.
TEST(JsonConformance, TextsLeftToTheParserAreDecidedByValueAndByWhatCanBeWrittenBack) {
    const std::set<std::string> taken = {
        "i_number_double_huge_neg_exp.json", "i_number_real_underflow.json", "i_number_too_big_neg_int.json",
        "i_number_too_big_pos_int.json", "i_number_very_big_negative_int.json"};
    const std::vector<Case> cases = cases_starting_with('i');
    ASSERT_GE(cases.size(), 30u);
    for (const Case& c : cases) EXPECT_EQ(accepted(c.text), taken.count(c.name) == 1) << c.name;
}

}  // namespace
}  // namespace quern::json
