#include "json/fast_parse.hpp"

#include <string>
#include <utility>
#include <vector>

#include "base/utf8.hpp"
#include "json/number.hpp"
#include "json/scanner.hpp"

namespace quern::json::detail {

namespace {

// Recursive descent over the scanner's tokens; any doubt ends it with false
// and the caller gives up.
class Parser {
public:
    Parser(std::string_view text, int max_depth) : in_(text), max_depth_(max_depth) {}

    bool document(Value& value) {
        in_.skip_whitespace();
        if (!parse_value(value, 0)) return false;
        in_.skip_whitespace();
        return in_.at_end();
    }

private:
    bool parse_value(Value& value, int depth) {
        if (in_.at_end()) return false;
        switch (in_.peek()) {
            case '{': return parse_object(value, depth + 1);
            case '[': return parse_array(value, depth + 1);
            case '"': {
                std::string s;
                if (!parse_string(s)) return false;
                value = Value(std::move(s));
                return true;
            }
            case 't': value = Value(true); return in_.literal("true");
            case 'f': value = Value(false); return in_.literal("false");
            case 'n': value = Value(); return in_.literal("null");
            default: return parse_number(value);
        }
    }

    bool parse_number(Value& value) {
        const NumberToken token = in_.number();
        if (token.text.empty()) return false;
        std::optional<Value> number = number_from_text(token.text);
        if (!number) return false;
        value = std::move(*number);
        return true;
    }

    bool parse_string(std::string& out) {
        in_.take('"');
        return in_.string_body(out, [&out](char32_t cp) { base::append_utf8(cp, out); });
    }

    bool parse_array(Value& value, int depth) {
        if (depth > max_depth_) return false;
        in_.take('[');
        Array elements;
        in_.skip_whitespace();
        if (!in_.take(']')) {
            for (Scanner::Next next = Scanner::Next::More; next == Scanner::Next::More;) {
                in_.skip_whitespace();
                elements.emplace_back();
                if (!parse_value(elements.back(), depth)) return false;
                next = in_.after_item(']');
                if (next == Scanner::Next::Wrong) return false;
            }
        }
        value = Value(std::move(elements));
        return true;
    }

    bool parse_object(Value& value, int depth) {
        if (depth > max_depth_) return false;
        in_.take('{');
        std::vector<Member> members;
        in_.skip_whitespace();
        if (!in_.take('}')) {
            for (Scanner::Next next = Scanner::Next::More; next == Scanner::Next::More;) {
                in_.skip_whitespace();
                if (in_.at_end() || in_.peek() != '"') return false;
                members.emplace_back();
                if (!parse_string(members.back().key)) return false;
                in_.skip_whitespace();
                if (!in_.take(':')) return false;
                in_.skip_whitespace();
                if (!parse_value(members.back().value, depth)) return false;
                next = in_.after_item('}');
                if (next == Scanner::Next::Wrong) return false;
            }
        }
        value = Value(Object::from_members(std::move(members)));
        return true;
    }

    Scanner in_;
    int max_depth_;
};

}  // namespace

std::optional<Value> parse_common(std::string_view text, int max_depth) {
    if (!base::is_valid_utf8(text)) return std::nullopt;
    Value value;
    Parser parser(text, max_depth);
    if (!parser.document(value)) return std::nullopt;
    return value;
}

}  // namespace quern::json::detail
