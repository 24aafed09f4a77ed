#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quern::platform::windows {

// Windows command lines as plain functions over UTF-16 units, so that they are
// tested on every platform.

// Splits a command line by the C runtime's rules. The program name ends
// at the first space or tab outside quotes and takes no escapes. In arguments,
// 2n backslashes before a quote give n backslashes and the quote opens or
// closes quoting; 2n+1 give n backslashes and a literal quote; other
// backslashes are literal; inside quotes "" is a literal quote.
std::vector<std::u16string> split_command_line(std::u16string_view line);

// Appends one argument so that split_command_line gives it back: quoted
// when empty or holding a space or tab; backslashes before a quote
// or before the closing quote doubled; a quote escaped with a backslash.
void append_argument(std::u16string_view argument, std::u16string& line);

// The command line CreateProcessW is given for a child: the program path always
// in double quotes, then each argument after one space, quoted and escaped by
// append_argument so that the child's C runtime splits it back into the same
// arguments. The program part takes no escapes (the C runtime reads the program
// name up to its closing quote), and a path holds no double quote.
std::u16string child_command_line(std::u16string_view program, const std::vector<std::u16string>& arguments);

}  // namespace quern::platform::windows
