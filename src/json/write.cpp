#include "json/write.hpp"


namespace quern::json {

namespace {

struct StringOut {
    std::string& text;
    void put(std::string_view piece) { text.append(piece); }
    void put(char c) { text.push_back(c); }
};

}  // namespace

void append_compact(const Value& value, std::string& out) {
    StringOut sink{out};
    CompactText<StringOut>(sink).value(value);
}

void append_compact_string(std::string_view text, std::string& out) {
    StringOut sink{out};
    CompactText<StringOut>(sink).string(text);
}

std::string to_compact_text(const Value& value) {
    std::string text;
    append_compact(value, text);
    return text;
}

}  // namespace quern::json
