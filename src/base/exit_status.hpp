#pragma once

namespace quern::base {

// The runtime's exit statuses, and the only ones it ends with.
inline constexpr int kExitClean = 0;          // help, or a clean stop
inline constexpr int kExitUnclean = 1;        // a failed start-up or an unclean stop
inline constexpr int kExitInternalFault = 101;  // a broken invariant inside the runtime

}  // namespace quern::base
