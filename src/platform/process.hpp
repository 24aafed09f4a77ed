#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/result.hpp"
#include "platform/handle.hpp"
#include "platform/os_error.hpp"
#include "platform/os_string.hpp"

namespace quern::platform {

// The system's number for a process (Windows: GetProcessId; POSIX: the pid).
using ProcessId = std::uint32_t;

// What a look at a child's state found.
struct ExitPoll {
    enum class State { Running, Exited, Failed };
    State state = State::Running;
    std::uint32_t exit_code = 0;  // for Exited; POSIX: 128 + N after death by signal N
    OsErrorCode error = 0;        // for Failed: why the state could not be read
};

// A started child process; move-only, the sole owner of the OS's hold on it,
// which it lets go of on destruction: until then the child's id stays its own,
// even after its exit. Destruction never ends the child itself, so an owner
// polls or waits first (a child dropped before its exit was seen may linger
// until the runtime exits). A child whose tree is bound has that tree ended on
// destruction (end_tree).
class ChildProcess {
public:
    // What the OS gave for the child and its tree, with what has been seen of
    // it since: each platform's own, made only by its start_child_process.
    struct Native;
    struct Release {
        void operator()(Native* native) const noexcept;  // ends a bound tree, lets go of the OS's hold
    };
    using NativePtr = std::unique_ptr<Native, Release>;

    ChildProcess() = default;
    explicit ChildProcess(NativePtr native) : native_(std::move(native)) {}

    // False for an empty object (made by default or moved from): it has no id
    // (0), its polls and waits answer Failed, and terminating it does nothing.
    bool valid() const { return native_ != nullptr; }
    ProcessId process_id() const;

    // Looks without waiting (a zero time-out). Once an exit has been seen its
    // code is kept, so later polls keep answering Exited with the same code.
    ExitPoll poll_exit();

    // Waits as long as it takes for the exit; answers Exited or Failed.
    ExitPoll wait_for_exit();

    // Ends the child at once, uncatchably (exit code 1 / SIGKILL). Not its
    // children: ending the whole tree is a separate step. Failures are ignored
    // (the child may have exited already); nothing is sent once the child is
    // gone.
    void terminate_process();

    // Whether the OS no longer holds the child for its owner (something else
    // reaped it). Its id may then belong to another process, so a gone child
    // is never signalled.
    bool gone() const;

    // Whether the child's tree is bound to the runtime (ProcessStart::bind_tree)
    // and end_tree has not let go of it yet.
    bool tree_bound() const;
    // Why the tree could not be bound, when that was asked for: the OS error
    // text; empty when it was bound or not asked for.
    const std::string& tree_binding_failure() const;

    // Ends at once every process left in the child's bound tree, the child too
    // if it still runs, but not those that left the tree on purpose, and lets
    // go of the binding. Nothing for a tree that is not bound.
    void end_tree();

private:
    friend class ExitWatch;  // takes its own hold on the child to wait with
    NativePtr native_;
};

// Waits for a child's exit on a thread of its own while the child's owner goes
// on polling: it neither reaps the child nor touches the ChildProcess, so the
// owner still sees the exit and its code. Move-only.
class ExitWatch {
public:
    explicit ExitWatch(const ChildProcess& child);
    ~ExitWatch();
    ExitWatch(ExitWatch&& other) noexcept : process_(other.process_) { other.process_ = kInvalidHandle; }
    ExitWatch& operator=(ExitWatch&&) = delete;
    ExitWatch(const ExitWatch&) = delete;
    ExitWatch& operator=(const ExitWatch&) = delete;

    // Returns once the child has exited, or at once when it cannot be waited
    // for (none, reaped already, or the OS refuses).
    void wait() const;

private:
    NativeHandle process_ = kInvalidHandle;
};

// The three standard streams of a child. kInvalidHandle gives the null device.
// The child's ends of create_child_stdio_pipe are fit to pass here.
struct ChildStdio {
    NativeHandle input = kInvalidHandle;
    NativeHandle output = kInvalidHandle;
    NativeHandle error = kInvalidHandle;
};

struct ProcessStart {
    OsString program;                               // a path; no search of PATH
    std::vector<OsString> arguments;                // after the program's own name
    std::optional<OsString> working_directory;      // the runtime's own when absent
    std::optional<std::vector<OsString>> environment;  // "NAME=value" entries; inherited when absent
    ChildStdio stdio;
    bool new_process_group = false;                 // POSIX: the child leads a process group of its own
    // The child's whole tree ends with the runtime, however the runtime ends
    // (a crash and an uncatchable end included), and sooner by end_tree; none
    // of the child's own code runs outside the tree, and processes that leave
    // the tree on purpose (Windows: CREATE_BREAKAWAY_FROM_JOB; POSIX: setsid or
    // setpgid) are spared. Where the OS refuses the binding, the child starts
    // all the same, unbound, and tree_binding_failure says why.
    bool bind_tree = false;
};

// Starts a child, without a window, that inherits nothing of the runtime's but
// its three streams and, on POSIX, the signals the runtime's own starter
// ignored (but for SIGPIPE and SIGCHLD, which it gets back at their defaults),
// with no handler of the runtime's and nothing blocked. The environment
// entries are in the order current_environment_with gives them. A failure to
// run the program at all (e.g. not an executable) is a failure here. On
// failure the message is the OS error text alone, and nothing is left behind.
base::Result<ChildProcess> start_child_process(const ProcessStart& start);

// A pipe for one standard stream of a child: the child's end can be passed in
// ChildStdio, the runtime's end reaches no child. Failure: the OS error text.
enum class ChildEnd { Reads, Writes };
struct ChildPipe {
    OwnedHandle child;    // passed in ChildStdio, closed by the runtime once the child has started
    OwnedHandle runtime;  // the runtime's end: writes when the child reads, reads when it writes
};
base::Result<ChildPipe> create_child_stdio_pipe(ChildEnd child_end);

// Ending a child's process tree, by one verb: end_tree (the bound tree, a
// method of ChildProcess), start_ending_tree (the OS's own way to end a tree),
// end_tree_by_force (all of it, escalating) and end_tree_leftovers (what is
// left as the owner leaves).

// Starts ending a child's whole process tree, what it started included, also
// after the child's exit was seen where the OS can still find the tree. What
// does the ending may be a process of its own, returned for the caller to
// wait on; nullopt when there is none to wait for. Failures are silent: the
// caller goes on to end the child itself.
std::optional<ChildProcess> start_ending_tree(ChildProcess& child);

// How long each step of end_tree_by_force waits before the next, harder one.
struct TreeEndingWaits {
    std::chrono::milliseconds poll_every;                   // how often a wait looks
    std::chrono::milliseconds tree_killer;                  // what start_ending_tree started, to end the tree
    std::chrono::milliseconds tree_killer_after_terminate;  // the same, once ended itself
    std::chrono::milliseconds child_after_tree;             // the child, after its tree was ended
    std::chrono::milliseconds child_after_terminate;        // the child, once terminated directly
};

// Ends the child and its descendants by force: its tree is ended
// (start_ending_tree; what it started is given its wait and, if need be, ended
// itself and given the shorter one), also once the child has exited, then
// whatever is still in its bound tree (end_tree); then, unless it has exited,
// the child is given its wait, then terminated directly and given the last
// one. Blocks for the sum of the waits at most; every failure on the way is
// silent.
void end_tree_by_force(ChildProcess& child, const TreeEndingWaits& waits);

// Ends what is left of the child's tree as its owner leaves: whatever the child
// started and left behind, but not what left its tree on purpose (end_tree). A
// tree that could not be bound is ended as end_tree_by_force would begin, once
// the child has exited (POSIX: its group).
void end_tree_leftovers(ChildProcess& child);

// Polls the process every poll_every until it is seen to have exited with a
// readable exit code (true) or the time-out has passed or a poll failed
// (false). The first poll comes at once, so a process already gone gives true
// even with a time-out of zero.
bool poll_until_exit(ChildProcess& process, std::chrono::milliseconds timeout, std::chrono::milliseconds poll_every);

}  // namespace quern::platform
