#pragma once

#include "platform/process.hpp"

namespace quern::project {

// What the event loop needs of the backend process: the real one drives the
// OS process, tests stand in with a scripted one.
class ProcessControl {
public:
    virtual ~ProcessControl() = default;

    // One look at the backend without waiting.
    virtual platform::ExitPoll poll() = 0;
    // Ends the backend and everything it started (platform::end_tree_by_force);
    // blocks a few seconds at most.
    virtual void end_tree_by_force() = 0;
    // Ends what is left of the backend's tree as the runtime leaves
    // (platform::end_tree_leftovers).
    virtual void end_tree_leftovers() = 0;
};

// The event loop's view of the real backend process.
class BackendControl final : public ProcessControl {
public:
    BackendControl(platform::ChildProcess& process, const platform::TreeEndingWaits& waits)
        : process_(process), waits_(waits) {}

    platform::ExitPoll poll() override { return process_.poll_exit(); }
    void end_tree_by_force() override { platform::end_tree_by_force(process_, waits_); }
    void end_tree_leftovers() override { platform::end_tree_leftovers(process_); }

private:
    platform::ChildProcess& process_;
    platform::TreeEndingWaits waits_;
};

}  // namespace quern::project
