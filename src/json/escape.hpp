#pragma once

#include <array>
#include <string_view>

namespace quern::json::detail {

// How a string's bytes are written in compact text, for the writer and the
// rewriter alike: only '"', '\\' and the control characters 0x00-0x1F are
// escaped (\b \t \n \f \r by name, the others as \u00xx in lower case);
// everything else, 0x7F and '/' included, goes out as its own bytes.
// plain_run_length finds the bytes that need an escape.

struct EscapeText {
    char bytes[6];
    unsigned char size;
};

constexpr std::array<EscapeText, 0x20> control_escapes() {
    constexpr char kHex[] = "0123456789abcdef";
    std::array<EscapeText, 0x20> table{};
    for (unsigned c = 0; c < 0x20; ++c) table[c] = {{'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]}, 6};
    table['\b'] = {{'\\', 'b'}, 2};
    table['\t'] = {{'\\', 't'}, 2};
    table['\n'] = {{'\\', 'n'}, 2};
    table['\f'] = {{'\\', 'f'}, 2};
    table['\r'] = {{'\\', 'r'}, 2};
    return table;
}

inline constexpr std::array<EscapeText, 0x20> kControlEscapes = control_escapes();

inline constexpr bool needs_escape(char32_t c) { return c < 0x20 || c == '"' || c == '\\'; }

// The escape of a character for which needs_escape holds.
inline std::string_view escape_of(char32_t c) {
    if (c == '"') return "\\\"";
    if (c == '\\') return "\\\\";
    const EscapeText& escape = kControlEscapes[c];
    return {escape.bytes, escape.size};
}

}  // namespace quern::json::detail
