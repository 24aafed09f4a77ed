#pragma once

// For the *_win32.cpp files only: OS strings are wchar_t there, the portable
// Windows rules work on char16_t; both are UTF-16 units of the same width.

#include <string>
#include <string_view>

#include "platform/os_string.hpp"

namespace quern::platform {

static_assert(sizeof(OsChar) == sizeof(char16_t), "Windows OS strings are UTF-16");

inline std::u16string to_utf16(OsStringView text) { return std::u16string(text.begin(), text.end()); }

inline OsString from_utf16(std::u16string_view units) { return OsString(units.begin(), units.end()); }

}  // namespace quern::platform
