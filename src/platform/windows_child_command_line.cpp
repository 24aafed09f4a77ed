#include "platform/windows_child_command_line.hpp"

#include "platform/windows_command_line.hpp"

namespace quern::platform {

std::u16string windows_child_command_line(std::u16string_view program,
                                          const std::vector<std::u16string>& arguments) {
    std::u16string line = u"\"";
    line += program;
    line += u'"';
    for (const std::u16string& argument : arguments) {
        line += u' ';
        append_windows_argument(argument, line);
    }
    return line;
}

}  // namespace quern::platform
