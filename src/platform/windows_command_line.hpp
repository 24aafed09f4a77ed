#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quern::platform {

// Splits a Windows command line by the C runtime's rules. The program name ends
// at the first space or tab outside quotes and takes no escapes. In arguments,
// 2n backslashes before a quote give n backslashes and the quote opens or
// closes quoting; 2n+1 give n backslashes and a literal quote; other
// backslashes are literal; inside quotes "" is a literal quote.
std::vector<std::u16string> split_windows_command_line(std::u16string_view line);

// Appends one argument so that split_windows_command_line gives it back: quoted
// when empty or holding a space or tab; backslashes before a quote
// or before the closing quote doubled; a quote escaped with a backslash.
void append_windows_argument(std::u16string_view argument, std::u16string& line);

}  // namespace quern::platform
