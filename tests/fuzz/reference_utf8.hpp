#pragma once

// Well-formed UTF-8 by the table of the Unicode standard, written apart from
// the runtime's own check so that each can be held against the other.

#include <cstddef>
#include <string_view>

namespace quern::fuzz {

// The length of the well-formed UTF-8 sequence at text[at], 0 if none starts
// there (Table 3-7 of the Unicode standard: no overlong forms, no surrogates,
// nothing above U+10FFFF).
inline std::size_t utf8_sequence_length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    const auto in = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
    const unsigned b0 = byte(0);
    if (b0 < 0x80) return 1;
    if (in(b0, 0xC2, 0xDF)) return in(byte(1), 0x80, 0xBF) ? 2 : 0;
    unsigned lo = 0x80, hi = 0xBF;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
    if (in(b0, 0xE0, 0xEF)) return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
    if (in(b0, 0xF0, 0xF4)) {
        return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

inline bool well_formed_utf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8_sequence_length(text, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

}  // namespace quern::fuzz
