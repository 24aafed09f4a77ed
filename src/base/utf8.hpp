#pragma once

#include <string>
#include <string_view>

namespace quern::base {

// True when the bytes are well-formed UTF-8: shortest forms only, no surrogate
// code points, nothing above U+10FFFF. The NUL byte is valid.
bool is_valid_utf8(std::string_view bytes);

// Appends a code point (a scalar value, no surrogate) as UTF-8.
void append_utf8(char32_t code_point, std::string& out);

// The bytes as UTF-8 with every ill-formed sequence replaced by U+FFFD, for
// showing OS strings (paths, arguments) in messages.
std::string utf8_lossy(std::string_view bytes);

// UTF-16 code units as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8_lossy(std::u16string_view units);

// UTF-8 as UTF-16; ill-formed sequences become U+FFFD.
std::u16string utf8_to_utf16(std::string_view bytes);

}  // namespace quern::base
