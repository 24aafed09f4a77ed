#include <signal.h>
#include <sys/types.h>

#include "platform/process_tree.hpp"

namespace quern::platform {

std::optional<ChildProcess> start_ending_process_tree(ChildProcess& child) {
    // The backend leads its own process group, so its descendants share it
    // unless they moved out on purpose.
    const auto group = static_cast<pid_t>(child.process_id());
    if (group > 0) (void)::kill(-group, SIGKILL);
    return std::nullopt;
}

}  // namespace quern::platform
