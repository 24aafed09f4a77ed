#include <windows.h>

#include "core/utf8.hpp"
#include "platform/os_error.hpp"

namespace quern::platform {

OsErrorCode last_os_error() { return GetLastError(); }

std::string os_error_text(OsErrorCode code) {
    constexpr DWORD kMaxUnits = 2048;
    wchar_t buffer[kMaxUnits];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, buffer, kMaxUnits, nullptr);
    if (length == 0) return format_unknown_os_error(code, GetLastError());
    std::u16string units(buffer, buffer + length);
    return format_os_error(utf16_to_utf8_lossy(units), code);
}

}  // namespace quern::platform
