#include "base/utf8.hpp"
#include "platform/os_string.hpp"
#include "platform/win32/units.hpp"

namespace quern::platform {

std::string to_utf8_lossy(OsStringView text) { return base::utf16_to_utf8_lossy(to_utf16(text)); }

OsString os_string_from_utf8(std::string_view text) { return from_utf16(base::utf8_to_utf16(text)); }

}  // namespace quern::platform
