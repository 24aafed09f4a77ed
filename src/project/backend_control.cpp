#include "project/backend_control.hpp"

#include <thread>

#include "base/clock.hpp"
#include "platform/os_error.hpp"
#include "platform/process.hpp"

namespace quern::project {

bool poll_until_exit(platform::ChildProcess& process, std::chrono::milliseconds timeout,
                     std::chrono::milliseconds poll_every) {
    const base::TimePoint deadline = base::Clock::now() + timeout;
    for (;;) {
        const platform::ExitPoll poll = process.poll_exit();
        if (poll.state == platform::ExitPoll::State::Exited) return true;
        if (poll.state == platform::ExitPoll::State::Failed) return false;
        if (base::Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(poll_every);
    }
}

void terminate_process_tree(platform::ChildProcess& backend, const TreeEndingWaits& waits) {
    // What the backend started may outlive it (holding its pipes, say), so the
    // tree is ended even when the backend itself has already exited.
    if (std::optional<platform::ChildProcess> killer = platform::start_ending_process_tree(backend)) {
        if (!poll_until_exit(*killer, waits.tree_killer, waits.poll_every)) {
            killer->terminate_process();
            (void)poll_until_exit(*killer, waits.tree_killer_after_terminate, waits.poll_every);
        }
    }
    backend.end_tree();
    if (poll_until_exit(backend, waits.backend_after_tree, waits.poll_every)) return;
    backend.terminate_process();
    (void)poll_until_exit(backend, waits.backend_after_terminate, waits.poll_every);
}

void BackendControl::end_leftovers() {
    if (process_.tree_bound()) return process_.end_tree();
    if (process_.poll_exit().state == platform::ExitPoll::State::Exited) {
        (void)platform::start_ending_process_tree(process_);
    }
}

ProcessPoll BackendControl::poll() {
    const platform::ExitPoll poll = process_.poll_exit();
    switch (poll.state) {
        case platform::ExitPoll::State::Running: return {};
        case platform::ExitPoll::State::Exited: return {ProcessPoll::State::Exited, poll.exit_code, {}};
        case platform::ExitPoll::State::Failed: break;
    }
    return {ProcessPoll::State::Failed, 0, platform::os_error_text(poll.error)};
}

}  // namespace quern::project
