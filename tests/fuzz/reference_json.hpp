#pragma once

// A second reading of JSON text (RFC 8259), written for plainness rather than
// speed and sharing no code with json::parse_json, to compare it with. It
// follows the runtime's own choices where the RFC leaves room: nesting up to a
// given depth, numbers as an unsigned or a negative 64-bit integer when they
// are integers that fit and as a double otherwise ("-0" too), a number whose
// double overflows refused (underflow gives zero or a subnormal), strings of
// well-formed UTF-8 only, the last of repeated keys winning.

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.hpp"
#include "reference_utf8.hpp"

namespace quern::fuzz {

class ReferenceReader {
public:
    ReferenceReader(std::string_view text, int max_depth) : text_(text), max_depth_(max_depth) {}

    std::optional<json::Value> read() {
        skip_space();
        std::optional<json::Value> value = read_value(0);
        skip_space();
        if (!value || at_ != text_.size()) return std::nullopt;
        return value;
    }

private:
    bool at_end() const { return at_ >= text_.size(); }
    char peek() const { return at_end() ? '\0' : text_[at_]; }
    bool take(char c) {
        if (at_end() || text_[at_] != c) return false;
        ++at_;
        return true;
    }
    bool take_word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }
    void skip_space() {
        while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++at_;
    }

    std::optional<json::Value> read_value(int depth) {
        const char c = peek();
        if (at_end()) return std::nullopt;
        if (c == '{') return read_object(depth + 1);
        if (c == '[') return read_array(depth + 1);
        if (c == '"') {
            std::optional<std::string> s = read_string();
            if (!s) return std::nullopt;
            return json::Value(std::move(*s));
        }
        if (take_word("true")) return json::Value(true);
        if (take_word("false")) return json::Value(false);
        if (take_word("null")) return json::Value();
        if (c == '-' || (c >= '0' && c <= '9')) return read_number();
        return std::nullopt;
    }

    std::optional<json::Value> read_array(int depth) {
        if (depth > max_depth_) return std::nullopt;
        ++at_;
        json::Array elements;
        skip_space();
        if (take(']')) return json::Value(std::move(elements));
        for (;;) {
            skip_space();
            std::optional<json::Value> element = read_value(depth);
            if (!element) return std::nullopt;
            elements.push_back(std::move(*element));
            skip_space();
            if (take(']')) return json::Value(std::move(elements));
            if (!take(',')) return std::nullopt;
        }
    }

    std::optional<json::Value> read_object(int depth) {
        if (depth > max_depth_) return std::nullopt;
        ++at_;
        std::vector<json::Member> members;
        skip_space();
        if (take('}')) return json::Value(json::Object());
        for (;;) {
            skip_space();
            if (peek() != '"') return std::nullopt;
            std::optional<std::string> key = read_string();
            if (!key) return std::nullopt;
            skip_space();
            if (!take(':')) return std::nullopt;
            skip_space();
            std::optional<json::Value> value = read_value(depth);
            if (!value) return std::nullopt;
            members.push_back(json::Member{std::move(*key), std::move(*value)});
            skip_space();
            if (take('}')) break;
            if (!take(',')) return std::nullopt;
        }
        // Where a key repeats, the last one stands.
        json::Object object;
        for (json::Member& member : members) object.set(std::move(member.key), std::move(member.value));
        return json::Value(std::move(object));
    }

    static bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

    std::optional<unsigned> read_hex4() {
        if (text_.size() - at_ < 4) return std::nullopt;
        unsigned unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            if (!is_hex(c)) return std::nullopt;
            const unsigned digit = c <= '9' ? unsigned(c - '0') : c <= 'F' ? unsigned(c - 'A' + 10) : unsigned(c - 'a' + 10);
            unit = unit * 16 + digit;
        }
        return unit;
    }

    static void append_utf8(char32_t cp, std::string& out) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    std::optional<std::string> read_string() {
        ++at_;
        std::string out;
        for (;;) {
            if (at_end()) return std::nullopt;
            const auto c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20) return std::nullopt;
            if (c != '\\') {
                const std::size_t length = utf8_sequence_length(text_, at_);
                if (length == 0) return std::nullopt;
                out.append(text_.substr(at_, length));
                at_ += length;
                continue;
            }
            ++at_;
            if (at_end()) return std::nullopt;
            const char e = text_[at_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    std::optional<unsigned> unit = read_hex4();
                    if (!unit) return std::nullopt;
                    char32_t cp = *unit;
                    if (cp >= 0xDC00 && cp <= 0xDFFF) return std::nullopt;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        if (!take('\\') || !take('u')) return std::nullopt;
                        std::optional<unsigned> low = read_hex4();
                        if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
                    }
                    append_utf8(cp, out);
                    break;
                }
                default: return std::nullopt;
            }
        }
    }

    std::optional<json::Value> read_number() {
        const std::size_t start = at_;
        const auto digits = [&] {
            std::size_t n = 0;
            while (!at_end() && peek() >= '0' && peek() <= '9') ++at_, ++n;
            return n;
        };
        const bool negative = take('-');
        if (!take('0') && digits() == 0) return std::nullopt;
        bool integral = true;
        if (take('.')) {
            integral = false;
            if (digits() == 0) return std::nullopt;
        }
        if (take('e') || take('E')) {
            integral = false;
            if (!take('+')) take('-');
            if (digits() == 0) return std::nullopt;
        }
        const std::string number(text_.substr(start, at_ - start));
        if (integral) {
            const std::string magnitude = number.substr(negative ? 1 : 0);
            // 2^64 - 1 and 2^63, the largest magnitudes of each integer kind.
            const std::string limit = negative ? "9223372036854775808" : "18446744073709551615";
            const bool fits = magnitude.size() < limit.size() ||
                              (magnitude.size() == limit.size() && magnitude <= limit);
            if (fits && !(negative && magnitude == "0")) {
                if (!negative) return json::Value::from_unsigned(std::strtoull(magnitude.c_str(), nullptr, 10));
                if (magnitude == limit) return json::Value::from_signed(INT64_MIN);
                return json::Value::from_signed(-static_cast<std::int64_t>(std::strtoull(magnitude.c_str(), nullptr, 10)));
            }
        }
        errno = 0;
        const double d = std::strtod(number.c_str(), nullptr);
        if (errno == ERANGE && std::isinf(d)) return std::nullopt;
        return json::Value::from_double(d);
    }

    std::string_view text_;
    int max_depth_;
    std::size_t at_ = 0;
};

inline std::optional<json::Value> reference_parse(std::string_view text, int max_depth) {
    return ReferenceReader(text, max_depth).read();
}

}  // namespace quern::fuzz
