#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quern::platform {

// The command line CreateProcessW is given for a child: the program path always
// in double quotes, then each argument after one space, quoted and escaped by
// append_windows_argument so that the child's C runtime splits it back into the
// same arguments. The program part takes no escapes (the C runtime reads the
// program name up to its closing quote), and a path holds no double quote.
std::u16string windows_child_command_line(std::u16string_view program,
                                          const std::vector<std::u16string>& arguments);

}  // namespace quern::platform
