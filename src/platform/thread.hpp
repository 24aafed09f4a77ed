#pragma once

#include <functional>

namespace quern::platform {

// Stack reserved for each worker thread.
inline constexpr unsigned long kWorkerStackBytes = 2 * 1024 * 1024;

// Starts body on a new detached, unnamed thread with a 2 MiB stack reservation
// (CreateThread with STACK_SIZE_PARAM_IS_A_RESERVATION; a detached pthread). The
// thread is never joined. When no thread can be created the process ends as an
// internal fault: "failed to spawn thread" and the OS error, exit status 101.
void spawn_detached_thread(std::function<void()> body);

}  // namespace quern::platform
