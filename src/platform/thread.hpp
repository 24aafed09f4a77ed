#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace quern::platform {

// Stack reserved for each worker thread.
inline constexpr unsigned long kWorkerStackBytes = 2 * 1024 * 1024;

// Starts run(body) on a new detached, unnamed thread with a 2 MiB stack
// reservation (CreateThread with STACK_SIZE_PARAM_IS_A_RESERVATION; a detached
// pthread); the thread owns body from then on. The thread is never joined.
// When no thread can be created the process ends as an internal fault:
// "failed to spawn thread" and the OS error, exit status 101.
void start_detached_thread(void (*run)(void* body), void* body);

// The same for any callable, move-only ones too (a worker's body takes its
// pipes and channel handles along): it is moved onto the heap and called once
// on the new thread, then destroyed there.
template <typename Body>
void spawn_detached_thread(Body&& body) {
    using Owned = std::decay_t<Body>;
    auto owned = std::make_unique<Owned>(std::forward<Body>(body));
    start_detached_thread(
        [](void* raw) {
            std::unique_ptr<Owned> taken(static_cast<Owned*>(raw));
            (*taken)();
        },
        owned.get());
    owned.release();  // the thread owns the body now
}

}  // namespace quern::platform
