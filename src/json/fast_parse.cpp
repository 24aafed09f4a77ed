#include "json/fast_parse.hpp"

#include <string>
#include <utility>
#include <vector>

#include "base/utf8.hpp"
#include "json/hex_digit.hpp"
#include "json/number.hpp"
#include "json/plain_run.hpp"

namespace quern::json::detail {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Recursive descent; any doubt ends it with false and the caller gives up.
class Parser {
public:
    Parser(std::string_view text, int max_depth) : text_(text), max_depth_(max_depth) {}

    bool document(Value& value) {
        skip_whitespace();
        if (!parse_value(value, 0)) return false;
        skip_whitespace();
        return at_ == text_.size();
    }

private:
    void skip_whitespace() {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return;
            ++at_;
        }
    }

    bool literal(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }

    bool parse_value(Value& value, int depth) {
        if (at_ >= text_.size()) return false;
        switch (text_[at_]) {
            case '{': return parse_object(value, depth + 1);
            case '[': return parse_array(value, depth + 1);
            case '"': {
                std::string s;
                if (!parse_string(s)) return false;
                value = Value(std::move(s));
                return true;
            }
            case 't': value = Value(true); return literal("true");
            case 'f': value = Value(false); return literal("false");
            case 'n': value = Value(); return literal("null");
            default: return parse_number(value);
        }
    }

    bool parse_number(Value& value) {
        const std::size_t length = number_token_length(text_.substr(at_));
        if (length == 0) return false;
        std::optional<Value> number = number_from_text(text_.substr(at_, length));
        if (!number) return false;
        at_ += length;
        value = std::move(*number);
        return true;
    }

    bool parse_string(std::string& out) {
        ++at_;  // the opening quote
        for (;;) {
            // Plain runs go in whole; the text is already known to be UTF-8.
            const std::size_t run = plain_run_length(text_.substr(at_));
            out.append(text_.data() + at_, run);
            at_ += run;
            if (at_ >= text_.size()) return false;
            const char c = text_[at_];
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c != '\\') return false;  // a control character
            if (!parse_escape(out)) return false;
        }
    }

    bool parse_escape(std::string& out) {
        if (++at_ >= text_.size()) return false;
        const char c = text_[at_++];
        switch (c) {
            case '"': out += '"'; return true;
            case '\\': out += '\\'; return true;
            case '/': out += '/'; return true;
            case 'b': out += '\b'; return true;
            case 'f': out += '\f'; return true;
            case 'n': out += '\n'; return true;
            case 'r': out += '\r'; return true;
            case 't': out += '\t'; return true;
            case 'u': break;
            default: return false;
        }
        char32_t cp = 0;
        if (!hex4(cp)) return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            char32_t low = 0;
            if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        base::append_utf8(cp, out);
        return true;
    }

    bool hex4(char32_t& cp) {
        if (text_.size() - at_ < 4) return false;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_digit(text_[at_++]);
            if (digit < 0) return false;
            cp = (cp << 4) | static_cast<char32_t>(digit);
        }
        return true;
    }

    bool parse_array(Value& value, int depth) {
        if (depth > max_depth_) return false;
        ++at_;
        Array elements;
        skip_whitespace();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            value = Value(std::move(elements));
            return true;
        }
        for (;;) {
            skip_whitespace();
            elements.emplace_back();
            if (!parse_value(elements.back(), depth)) return false;
            skip_whitespace();
            if (at_ >= text_.size()) return false;
            const char c = text_[at_++];
            if (c == ']') break;
            if (c != ',') return false;
        }
        value = Value(std::move(elements));
        return true;
    }

    bool parse_object(Value& value, int depth) {
        if (depth > max_depth_) return false;
        ++at_;
        std::vector<Member> members;
        skip_whitespace();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            value = Value(Object());
            return true;
        }
        for (;;) {
            skip_whitespace();
            if (at_ >= text_.size() || text_[at_] != '"') return false;
            members.emplace_back();
            if (!parse_string(members.back().key)) return false;
            skip_whitespace();
            if (at_ >= text_.size() || text_[at_++] != ':') return false;
            skip_whitespace();
            if (!parse_value(members.back().value, depth)) return false;
            skip_whitespace();
            if (at_ >= text_.size()) return false;
            const char c = text_[at_++];
            if (c == '}') break;
            if (c != ',') return false;
        }
        value = Value(Object::from_members(std::move(members)));
        return true;
    }

    std::string_view text_;
    int max_depth_;
    std::size_t at_ = 0;
};

}  // namespace

std::size_t number_token_length(std::string_view text) {
    std::size_t at = 0;
    const auto digits = [&] {
        while (at < text.size() && is_digit(text[at])) ++at;
    };
    if (at < text.size() && text[at] == '-') ++at;
    if (at < text.size() && text[at] == '0') {
        ++at;
    } else if (at < text.size() && is_digit(text[at])) {
        digits();
    } else {
        return 0;
    }
    if (at + 1 < text.size() && text[at] == '.' && is_digit(text[at + 1])) {
        ++at;
        digits();
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        std::size_t exponent = at + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
        if (exponent < text.size() && is_digit(text[exponent])) {
            at = exponent;
            digits();
        }
    }
    return at;
}

std::optional<Value> parse_common(std::string_view text, int max_depth) {
    if (!base::is_valid_utf8(text)) return std::nullopt;
    Value value;
    Parser parser(text, max_depth);
    if (!parser.document(value)) return std::nullopt;
    return value;
}

}  // namespace quern::json::detail
