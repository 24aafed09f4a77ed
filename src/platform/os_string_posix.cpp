#include "base/utf8.hpp"
#include "platform/os_string.hpp"

namespace quern::platform {

std::string to_utf8_lossy(OsStringView text) { return base::utf8_lossy(text); }

OsString os_string_from_utf8(std::string_view text) { return OsString(text); }

}  // namespace quern::platform
