#include "platform/process.hpp"

#include <thread>

#include "base/clock.hpp"

namespace quern::platform {

bool poll_until_exit(ChildProcess& process, std::chrono::milliseconds timeout, std::chrono::milliseconds poll_every) {
    const base::TimePoint deadline = base::Clock::now() + timeout;
    for (;;) {
        const ExitPoll poll = process.poll_exit();
        if (poll.state == ExitPoll::State::Exited) return true;
        if (poll.state == ExitPoll::State::Failed) return false;
        if (base::Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(poll_every);
    }
}

void end_tree_by_force(ChildProcess& child, const TreeEndingWaits& waits) {
    // What the child started may outlive it (holding its pipes, say), so the
    // tree is ended even when the child itself has already exited.
    if (std::optional<ChildProcess> killer = start_ending_tree(child)) {
        if (!poll_until_exit(*killer, waits.tree_killer, waits.poll_every)) {
            killer->terminate_process();
            (void)poll_until_exit(*killer, waits.tree_killer_after_terminate, waits.poll_every);
        }
    }
    child.end_tree();
    if (poll_until_exit(child, waits.child_after_tree, waits.poll_every)) return;
    child.terminate_process();
    (void)poll_until_exit(child, waits.child_after_terminate, waits.poll_every);
}

void end_tree_leftovers(ChildProcess& child) {
    if (child.tree_bound()) return child.end_tree();
    if (child.poll_exit().state == ExitPoll::State::Exited) (void)start_ending_tree(child);
}

}  // namespace quern::platform
