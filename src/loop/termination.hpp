#pragma once

#include "loop/state.hpp"

namespace quern::loop {

// Every event from the termination watcher. The first request begins the
// shutdown exactly as the end of the runtime's stdin does: the backend is asked
// to stop and has its grace period, records keep flowing, and the exit status
// follows the usual rules. The second ends the backend's tree at once, and the
// run ends unclean with "Runtime interrupted" (supervision leaves at its next
// pass). Any later one changes nothing.
void handle_termination_request(Loop& loop);

}  // namespace quern::loop
