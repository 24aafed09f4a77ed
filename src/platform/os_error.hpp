#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quern::platform {

// GetLastError() on Windows, errno on POSIX.
using OsErrorCode = std::uint32_t;

OsErrorCode last_os_error();

// The system's description of an error, then " (os error N)". Windows asks
// FormatMessageW (system table, default language); POSIX uses strerror.
std::string os_error_text(OsErrorCode code);

// The pieces of os_error_text as plain functions, shared by both platforms.
// The system's text with trailing white space removed, then " (os error N)".
std::string format_os_error(std::string_view system_text, OsErrorCode code);
// When Windows has no message: "OS Error N (FormatMessageW() returned error M)".
std::string format_unknown_os_error(OsErrorCode code, OsErrorCode format_error);

}  // namespace quern::platform
