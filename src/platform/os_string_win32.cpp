#include "core/utf8.hpp"
#include "platform/os_string.hpp"

namespace quern::platform {

std::string to_utf8_lossy(OsStringView text) {
    return utf16_to_utf8_lossy(std::u16string(text.begin(), text.end()));
}

OsString os_string_from_utf8(std::string_view text) {
    std::u16string units = utf8_to_utf16(text);
    return OsString(units.begin(), units.end());
}

}  // namespace quern::platform
