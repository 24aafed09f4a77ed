#pragma once

#include <string_view>

namespace quern {

// Exit status of an internal fault.
inline constexpr int kInternalFaultExitCode = 101;

// Ends the process after an internal fault (a broken invariant, a thread that
// cannot be created): "quern-runtime: internal fault: " and the diagnostic on
// standard error, as far as it can be written, then exit status 101.
[[noreturn]] void fatal_internal(std::string_view diagnostic);

}  // namespace quern
