#include <cerrno>
#include <cstring>

#include "platform/os_error.hpp"

namespace quern::platform {

namespace {

// strerror_r comes in two shapes: the GNU one returns the text, the XSI one
// fills the buffer and returns a status. Overloads pick whichever is declared.
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }
[[maybe_unused]] const char* strerror_result(int status, const char* buffer) {
    return status == 0 ? buffer : "Unknown error";
}

}  // namespace

OsErrorCode last_os_error() { return static_cast<OsErrorCode>(errno); }

std::string os_error_text(OsErrorCode code) {
    char buffer[256] = {};
    const char* text = strerror_result(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer);
    return format_os_error(text, code);
}

}  // namespace quern::platform
