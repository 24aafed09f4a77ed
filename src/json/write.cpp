#include "json/write.hpp"

#include <array>
#include <charconv>

#include "json/float_text.hpp"

namespace quern::json {

namespace {

void append_escape(unsigned char c, std::string& out) {
    switch (c) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\b': out += "\\b"; return;
        case '\t': out += "\\t"; return;
        case '\n': out += "\\n"; return;
        case '\f': out += "\\f"; return;
        case '\r': out += "\\r"; return;
        default: break;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

bool needs_escape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

void append_string(const std::string& text, std::string& out) {
    out += '"';
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!needs_escape(c)) continue;
        out.append(text, run_start, i - run_start);
        append_escape(c, out);
        run_start = i + 1;
    }
    out.append(text, run_start, std::string::npos);
    out += '"';
}

template <typename Integer>
void append_integer(Integer n, std::string& out) {
    std::array<char, 24> digits;
    auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), n);
    (void)ec;  // 24 bytes hold every 64-bit integer
    out.append(digits.data(), end);
}

void append_array(const Array& array, std::string& out) {
    out += '[';
    bool first = true;
    for (const Value& element : array) {
        if (!first) out += ',';
        first = false;
        append_compact(element, out);
    }
    out += ']';
}

void append_object(const Object& object, std::string& out) {
    out += '{';
    bool first = true;
    for (const Member& member : object) {
        if (!first) out += ',';
        first = false;
        append_string(member.key, out);
        out += ':';
        append_compact(member.value, out);
    }
    out += '}';
}

}  // namespace

void append_compact(const Value& value, std::string& out) {
    switch (value.kind()) {
        case Kind::Null: out += "null"; return;
        case Kind::Bool: out += value.as_bool() ? "true" : "false"; return;
        case Kind::Unsigned: append_integer(value.as_unsigned(), out); return;
        case Kind::Negative: append_integer(value.as_negative(), out); return;
        case Kind::Float: append_float(value.as_double(), out); return;
        case Kind::String: append_string(value.as_string(), out); return;
        case Kind::Array: append_array(value.as_array(), out); return;
        case Kind::Object: append_object(value.as_object(), out); return;
    }
}

std::string to_compact_text(const Value& value) {
    std::string text;
    append_compact(value, text);
    return text;
}

}  // namespace quern::json
