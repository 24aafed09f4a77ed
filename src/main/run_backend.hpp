#pragma once

#include "project/backend_process.hpp"

namespace quern {

// The rest of start-up once the backend runs: creates the event queue and the
// backend input queue, starts the four worker threads (writer, stdin reader,
// backend stdout and stderr readers, in that order), hands each its pipe, and
// runs the event loop on this thread. Returns the exit status, 0 or 1.
int run_backend(project::BackendProcess backend);

}  // namespace quern
