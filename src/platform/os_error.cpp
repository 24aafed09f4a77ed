#include "platform/os_error.hpp"

namespace quern::platform {

namespace {

bool is_trailing_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::string format_os_error(std::string_view system_text, OsErrorCode code) {
    while (!system_text.empty() && is_trailing_space(system_text.back())) {
        system_text.remove_suffix(1);
    }
    std::string text(system_text);
    text += " (os error ";
    text += std::to_string(code);
    text += ')';
    return text;
}

std::string format_unknown_os_error(OsErrorCode code, OsErrorCode format_error) {
    return "OS Error " + std::to_string(code) + " (FormatMessageW() returned error " +
           std::to_string(format_error) + ")";
}

}  // namespace quern::platform
