#include <windows.h>

#include "base/utf8.hpp"
#include "platform/os_error.hpp"
#include "platform/win32/units.hpp"

namespace quern::platform {

OsErrorCode last_os_error() { return GetLastError(); }

std::string os_error_text(OsErrorCode code) {
    constexpr DWORD kMaxUnits = 2048;
    wchar_t buffer[kMaxUnits];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, buffer, kMaxUnits, nullptr);
    if (length == 0) return format_unknown_os_error(code, GetLastError());
    return format_os_error(base::utf16_to_utf8_lossy(to_utf16(OsStringView(buffer, length))), code);
}

}  // namespace quern::platform
