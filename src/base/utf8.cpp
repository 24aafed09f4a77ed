#include "base/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace quern::base {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one well-formed sequence at bytes[at]; returns its length, or 0 when
// the bytes there are not the start of one (the caller then skips one byte).
std::size_t decode_one(std::string_view bytes, std::size_t at, char32_t& code_point) {
    const auto b0 = static_cast<unsigned char>(bytes[at]);
    if (b0 < 0x80) {
        code_point = b0;
        return 1;
    }
    std::size_t length;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, min = 0x80, code_point = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, min = 0x800, code_point = b0 & 0x0Fu;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, min = 0x10000, code_point = b0 & 0x07u;
    } else {
        return 0;
    }
    if (bytes.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(bytes[at + i]);
        if ((b & 0xC0) != 0x80) return 0;
        code_point = (code_point << 6) | (b & 0x3Fu);
    }
    if (code_point < min || code_point > 0x10FFFF) return 0;
    if (code_point >= 0xD800 && code_point <= 0xDFFF) return 0;
    return length;
}

// Calls on_code_point for each code point of the bytes, U+FFFD for each byte
// that starts no well-formed sequence.
template <typename OnCodePoint>
void for_each_code_point(std::string_view bytes, OnCodePoint on_code_point) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        char32_t cp;
        std::size_t length = decode_one(bytes, at, cp);
        if (length == 0) {
            cp = kReplacement;
            length = 1;
        }
        on_code_point(cp);
        at += length;
    }
}

bool is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        // ASCII runs are the common case: eight bytes at a time while no high
        // bit is set, then byte by byte.
        while (bytes.size() - at >= 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes.data() + at, 8);
            if ((word & 0x8080808080808080ULL) != 0) break;
            at += 8;
        }
        if (at >= bytes.size()) break;
        if (static_cast<unsigned char>(bytes[at]) < 0x80) {
            ++at;
            continue;
        }
        char32_t cp;
        std::size_t length = decode_one(bytes, at, cp);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

void append_utf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        const char bytes[2] = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 2);
    } else if (cp < 0x10000) {
        const char bytes[3] = {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                               static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 3);
    } else {
        const char bytes[4] = {static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
                               static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 4);
    }
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for_each_code_point(bytes, [&out](char32_t cp) { append_utf8(cp, out); });
    return out;
}

std::string utf16_to_utf8_lossy(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (is_high_surrogate(u) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                                (static_cast<char32_t>(units[i + 1]) - 0xDC00);
            append_utf8(cp, out);
            ++i;
        } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
            append_utf8(kReplacement, out);
        } else {
            append_utf8(u, out);
        }
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for_each_code_point(bytes, [&out](char32_t cp) {
        if (cp < 0x10000) {
            out += static_cast<char16_t>(cp);
            return;
        }
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    });
    return out;
}

}  // namespace quern::base
