#pragma once

#include <string>
#include <string_view>

namespace quern::platform {

// Strings as the OS hands them over: UTF-16 units on Windows, bytes on POSIX.
// Neither need be valid Unicode, so they travel unconverted and are turned into
// UTF-8 only to be shown in a message.
#ifdef _WIN32
using OsChar = wchar_t;
#else
using OsChar = char;
#endif
using OsString = std::basic_string<OsChar>;
using OsStringView = std::basic_string_view<OsChar>;

// For messages: invalid sequences (an unpaired surrogate, a stray byte) become U+FFFD.
std::string to_utf8_lossy(OsStringView text);

// UTF-8 text as an OS string (ill-formed input becomes U+FFFD on Windows).
OsString os_string_from_utf8(std::string_view text);

}  // namespace quern::platform
