#pragma once

// Every span of time the runtime's behaviour is built on, in one place. The
// layers below take what they need of it as parameters (the input writer its
// busy spin, the ending of the backend's tree its waits), and the tests
// compute their expectations from it.

#include <chrono>

#include "platform/process.hpp"

namespace quern::loop {

// How long the backend has to go after it was asked to stop (by the runtime,
// or by a shutdown request of the front end's).
inline constexpr std::chrono::seconds kShutdownGracePeriod{75};

// How long the backend's output may still drain after its exit was seen; the
// loop leaves once strictly more than this has passed.
inline constexpr std::chrono::seconds kDrainWindow{1};

// The longest the loop waits for an event before it looks at the backend while
// a deadline or the drain window runs; also its pace once no event can come.
inline constexpr std::chrono::milliseconds kLoopWait{50};
// The same otherwise: everything the loop must act on then arrives as an event
// (the backend's exit too, from the exit watcher), so this is only a backstop.
inline constexpr std::chrono::milliseconds kIdleWait{1000};

// How long the loop (after a batch of events) and the backend input writer
// (after a write) look for the next value before they sleep: an answer usually
// follows its request this closely, and being woken costs far more. Nothing
// spins while the runtime is idle.
inline constexpr std::chrono::microseconds kBusySpin{100};

// Ending the backend's tree (at the deadline, on a second termination request,
// when it can no longer be polled): taskkill gets 2 s and, ended itself, 0.5 s
// more; then the backend 0.5 s, and once terminated directly 2 s. About 5 s
// at most, looked at every 50 ms.
inline constexpr platform::TreeEndingWaits kTreeEndingWaits{
    .poll_every = std::chrono::milliseconds(50),
    .tree_killer = std::chrono::milliseconds(2000),
    .tree_killer_after_terminate = std::chrono::milliseconds(500),
    .child_after_tree = std::chrono::milliseconds(500),
    .child_after_terminate = std::chrono::milliseconds(2000),
};
// The longest that ending the tree blocks the loop.
inline constexpr std::chrono::milliseconds kTreeEndingLongest =
    kTreeEndingWaits.tree_killer + kTreeEndingWaits.tree_killer_after_terminate + kTreeEndingWaits.child_after_tree +
    kTreeEndingWaits.child_after_terminate;

}  // namespace quern::loop
