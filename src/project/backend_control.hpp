#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/process.hpp"

namespace quern::project {

// One look at the backend without waiting.
struct ProcessPoll {
    enum class State { Running, Exited, Failed };
    State state = State::Running;
    std::uint32_t exit_code = 0;  // for Exited
    std::string error_text;       // for Failed: the OS error text
};

// What the event loop needs of the backend process: the real one drives the
// OS process, tests stand in with a scripted one.
class ProcessControl {
public:
    virtual ~ProcessControl() = default;

    virtual ProcessPoll poll() = 0;
    // Ends the backend and everything it started; blocks a few seconds at most.
    virtual void terminate_tree() = 0;
    // Ends what is left of the backend's tree as the runtime leaves: whatever
    // the backend started and left behind, but not what left its tree on
    // purpose. A tree that could not be bound is ended as the forced path
    // would, once the backend has exited (POSIX: its group).
    virtual void end_leftovers() = 0;
};

// How long each step of ending a tree waits before the next, harder one; the
// loop's timings hold the values.
struct TreeEndingWaits {
    std::chrono::milliseconds poll_every;                   // how often a wait looks
    std::chrono::milliseconds tree_killer;                  // Windows: taskkill, to end the tree
    std::chrono::milliseconds tree_killer_after_terminate;  // taskkill, once ended itself
    std::chrono::milliseconds backend_after_tree;           // the backend, after its tree was ended
    std::chrono::milliseconds backend_after_terminate;      // the backend, once terminated directly
};

// Polls the process every poll_every until it is seen to have exited with a
// readable exit code (true) or the time-out has passed or a poll failed
// (false). The first poll comes at once, so a process already gone gives true
// even with a time-out of zero.
bool poll_until_exit(platform::ChildProcess& process, std::chrono::milliseconds timeout,
                     std::chrono::milliseconds poll_every);

// Ends the backend and its descendants: its tree is ended (taskkill.exe, given
// its wait and, if need be, ended itself and given the shorter one / the
// process group killed, also once the backend has exited), then whatever is
// still in its bound tree (the job, which also holds what taskkill cannot reach
// / the group again); then, unless it has exited, the backend is given its
// wait, then terminated directly and given the last one. Blocks for the sum of
// the waits at most; every failure on the way is silent.
void terminate_process_tree(platform::ChildProcess& backend, const TreeEndingWaits& waits);

// The event loop's view of the real backend process.
class BackendControl final : public ProcessControl {
public:
    BackendControl(platform::ChildProcess& process, const TreeEndingWaits& waits)
        : process_(process), waits_(waits) {}

    ProcessPoll poll() override;
    void terminate_tree() override { terminate_process_tree(process_, waits_); }
    void end_leftovers() override;

private:
    platform::ChildProcess& process_;
    TreeEndingWaits waits_;
};

}  // namespace quern::project
