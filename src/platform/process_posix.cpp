#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/process.hpp"
#include "platform/posix/descriptors.hpp"
#include "platform/posix/eintr.hpp"

extern char** environ;

namespace quern::platform {

namespace {

constexpr int kExecFailedStatus = 127;

int fd_of(NativeHandle handle) { return static_cast<int>(handle); }

pid_t pid_of(NativeHandle handle) { return static_cast<pid_t>(handle); }

// Everything the child needs, made before fork: between fork and execve the
// child may only make async-signal-safe calls (another thread of the parent may
// have held the allocator's lock at the moment of the fork).
struct ExecPlan {
    const char* program = nullptr;
    std::vector<char*> argv;
    char** envp = nullptr;
    const char* working_directory = nullptr;
    int stdio[3] = {-1, -1, -1};
    bool new_process_group = false;
    int report_fd = -1;
    // For a bound tree: the pipe on which the runtime lets the child go ahead
    // once the guard is in place (the child reads one end, closes the other).
    int go_ahead_fd = -1;
    int go_ahead_other_end = -1;
    // The descriptors open at the fork, when the system can list them.
    posix::OpenDescriptors open_descriptors;
};

std::vector<char*> c_string_array(const std::vector<OsString>& strings, const OsString* first) {
    std::vector<char*> array;
    if (first != nullptr) array.push_back(const_cast<char*>(first->c_str()));
    for (const OsString& s : strings) array.push_back(const_cast<char*>(s.c_str()));
    array.push_back(nullptr);
    return array;
}

// In the child: sends errno to the parent and ends without running any of the
// parent's exit handlers or flushing its buffers.
[[noreturn]] void fail_in_child(int report_fd) {
    const int error = errno;
    ssize_t ignored = ::write(report_fd, &error, sizeof error);
    (void)ignored;
    ::_exit(kExecFailedStatus);
}

// In the child of a bound start: waits until the runtime has the guard in
// place. The end of the pipe instead means the runtime is gone before it could
// bind the tree, and the child goes before running any code of its own.
void await_go_ahead(const ExecPlan& plan) {
    ::close(plan.go_ahead_other_end);
    char go = 0;
    if (posix::retry_on_eintr([&] { return ::read(plan.go_ahead_fd, &go, 1); }) != 1) ::_exit(kExecFailedStatus);
}

[[noreturn]] void run_child(const ExecPlan& plan) {
    if (plan.new_process_group && ::setpgid(0, 0) != 0) fail_in_child(plan.report_fd);
    // An ignored signal stays ignored across execve; the runtime ignores SIGPIPE
    // for itself only, and whatever started the runtime may have ignored
    // SIGCHLD, which would make the backend's own children unwaitable.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &default_action, nullptr);
    ::sigaction(SIGCHLD, &default_action, nullptr);
    // The runtime's own handlers must not run here once signals are let
    // through: they would take a signal meant for the child as the runtime's.
    // (execve would drop them anyway; an inherited ignore is kept.)
    for (const int caught : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(caught, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            ::sigaction(caught, &default_action, nullptr);
        }
    }
    sigset_t no_signals;
    ::sigemptyset(&no_signals);
    ::sigprocmask(SIG_SETMASK, &no_signals, nullptr);
    if (plan.go_ahead_fd >= 0) await_go_ahead(plan);
    // Lift all three above 2 first, so that putting one in place cannot
    // overwrite another that happens to sit at 0, 1 or 2.
    int lifted[3];
    for (int i = 0; i < 3; ++i) {
        lifted[i] = ::fcntl(plan.stdio[i], F_DUPFD_CLOEXEC, 3);
        if (lifted[i] < 0) fail_in_child(plan.report_fd);
    }
    for (int i = 0; i < 3; ++i) {
        if (::dup2(lifted[i], i) < 0) fail_in_child(plan.report_fd);
    }
    if (plan.working_directory != nullptr && ::chdir(plan.working_directory) != 0) fail_in_child(plan.report_fd);
    // Nothing of the runtime's but the three streams may reach the backend,
    // not even a descriptor the runtime was given without close-on-exec.
    posix::close_on_exec_from(3, plan.open_descriptors);
    ::execve(plan.program, plan.argv.data(), plan.envp);
    fail_in_child(plan.report_fd);
}

// The child's report: true and its errno when it failed, false when the pipe
// closed empty because execve succeeded.
bool child_failed(int report_fd, int& error) {
    const ssize_t n = posix::retry_on_eintr([&] { return ::read(report_fd, &error, sizeof error); });
    return n == static_cast<ssize_t>(sizeof error);
}

std::uint32_t exit_code_of(const siginfo_t& exit) {
    if (exit.si_code == CLD_EXITED) return static_cast<std::uint32_t>(exit.si_status);
    return 128u + static_cast<std::uint32_t>(exit.si_status);
}

void reap(pid_t pid) {
    (void)posix::retry_on_eintr([&] { return ::waitpid(pid, nullptr, 0); });
}

// Without a pid, waitpid(-1) would reap any child at all.
constexpr ExitPoll kNoChild{ExitPoll::State::Failed, 0, ECHILD};

// Every signal blocked for this thread while it forks, so that no handler of
// the runtime's can run in a child before the child has put its own in place.
class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t all;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &saved_);
    }
    ~SignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t saved_;
};

// In the guard: nothing of the runtime's may stay open but the end of the
// guard's pipe it watches, now at 0. Held on to, the runtime's standard
// streams would keep the front end from seeing the runtime's end, and the
// backend's pipes would keep the backend from seeing its own.
void keep_only_watched(int watched, const posix::OpenDescriptors& open_descriptors) {
    if (::dup2(watched, 0) < 0) ::_exit(0);
    posix::close_from(1, open_descriptors);
}

// The guard, forked from the runtime and never exec'd, so only async-signal-
// safe calls: it joins the child's group, then waits for the end of the pipe
// whose writing end only the runtime holds. The runtime's end, however the
// runtime ends, or its closing the pipe, is the word to end the group; SIGKILL
// to it reaches the guard as well, which is how the guard ends. Every signal
// stays blocked, so nothing but SIGKILL (and SIGSTOP) reaches it: a backend
// signalling its own group does not take the guard along. Nothing is ever
// written to the pipe, so the wait costs nothing while the runtime lives.
[[noreturn]] void run_guard(pid_t group, int watched, const posix::OpenDescriptors& open_descriptors) {
    sigset_t all;
    ::sigfillset(&all);
    ::sigprocmask(SIG_SETMASK, &all, nullptr);
    // Not a member, it would signal a group of the runtime's choosing no more.
    if (::setpgid(0, group) != 0) ::_exit(0);
    keep_only_watched(watched, open_descriptors);
    char byte = 0;
    if (posix::retry_on_eintr([&] { return ::read(0, &byte, 1); }) >= 0) (void)::kill(-group, SIGKILL);
    ::_exit(0);
}

}  // namespace

// The child's pid, which is also the id of its process group when it was
// started in a group of its own. It is reaped only on release, so its pid and
// group id stay its own until then; one dropped before its exit was seen stays
// a zombie until the runtime exits. A bound tree: the guard's pid and the
// writing end of the guard's pipe.
struct ChildProcess::Native {
    pid_t pid = 0;
    pid_t guard = 0;  // 0: the tree is not bound
    OwnedHandle link;
    std::string tree_failure;
    std::optional<std::uint32_t> exit_code;
    bool lost = false;  // reaped behind the runtime's back
};

namespace {

// Starts the guard of the child's group; on failure the child's tree stays
// unbound and its binding failure says why.
void start_guard(ChildProcess::Native& child) {
    base::Result<Pipe> link = create_pipe();
    if (!link) {
        child.tree_failure = link.error();
        return;
    }
    const posix::OpenDescriptors open_descriptors = posix::list_open_descriptors();
    const int watched = fd_of(link.value().read.native());
    const pid_t guard = ::fork();
    if (guard < 0) {
        child.tree_failure = os_error_text(last_os_error());
        return;
    }
    if (guard == 0) run_guard(child.pid, watched, open_descriptors);
    // The guard puts itself in the group too; whichever call comes first, it is
    // a member once this returns, while the child still waits to be let go.
    if (::setpgid(guard, child.pid) != 0) {
        child.tree_failure = os_error_text(last_os_error());
        (void)::kill(guard, SIGKILL);
        reap(guard);
        return;
    }
    child.guard = guard;
    child.link = std::move(link.value().write);
}

// Why the group may be signalled here. A process group's id is its leader's
// pid, and the system hands that number to no new process or group while the
// group has a member, a zombie included: a process that has exited stays in
// its group until its parent reaps it. The backend, the leader, may have exited
// and been reaped long ago, its group living on through what it left behind;
// once the last of those has gone the number is free, and a new process could
// lead a new group under it, which SIGKILL to the old id would then reach. The
// guard closes that gap: it joined the group before the backend ran any code,
// never leaves it, and only the runtime, its parent, reaps it. So while the
// guard has not been reaped the group is the backend's, whoever else has left
// it, and once the guard has been reaped the runtime never signals the group
// again. The guard reasons the same way about its own SIGKILL to the group: it
// is a member while it sends it.
void end_bound_tree(ChildProcess::Native& child) {
    if (child.guard == 0) return;
    (void)::kill(-child.pid, SIGKILL);
    // It is in the group, so this changes nothing, but waiting for it below
    // must not depend on that.
    (void)::kill(child.guard, SIGKILL);
    child.link.close();
    reap(child.guard);
    child.guard = 0;
}

}  // namespace

void ChildProcess::Release::operator()(Native* native) const noexcept {
    end_bound_tree(*native);
    if (native->exit_code && !native->lost) reap(native->pid);
    delete native;
}

ProcessId ChildProcess::process_id() const { return valid() ? static_cast<ProcessId>(native_->pid) : 0; }

bool ChildProcess::gone() const { return valid() && native_->lost; }

bool ChildProcess::tree_bound() const { return valid() && native_->guard != 0; }

const std::string& ChildProcess::tree_binding_failure() const {
    static const std::string none;
    return valid() ? native_->tree_failure : none;
}

namespace {

// ECHILD: the child was reaped behind the runtime's back (SIGCHLD ignored by
// whatever started it, before prepare_process could undo that).
ExitPoll lost(ChildProcess::Native& child) {
    const OsErrorCode error = last_os_error();
    if (error == ECHILD) child.lost = true;
    return {ExitPoll::State::Failed, 0, error};
}

// The exit is seen without reaping the child (WNOWAIT): until the object goes,
// the zombie keeps its pid, and the id of its process group while anything it
// started lives on, from being given to another process.
ExitPoll see_exit(ChildProcess::Native& child, int wait_flags) {
    if (child.exit_code) return {ExitPoll::State::Exited, *child.exit_code, 0};
    siginfo_t exit{};
    const id_t pid = static_cast<id_t>(child.pid);
    if (posix::retry_on_eintr([&] { return ::waitid(P_PID, pid, &exit, WEXITED | WNOWAIT | wait_flags); }) < 0) {
        return lost(child);
    }
    if (exit.si_pid == 0) return {};
    child.exit_code = exit_code_of(exit);
    return {ExitPoll::State::Exited, *child.exit_code, 0};
}

}  // namespace

ExitPoll ChildProcess::poll_exit() { return valid() ? see_exit(*native_, WNOHANG) : kNoChild; }

ExitPoll ChildProcess::wait_for_exit() { return valid() ? see_exit(*native_, 0) : kNoChild; }

void ChildProcess::terminate_process() {
    if (valid() && !gone()) ::kill(native_->pid, SIGKILL);
}

void ChildProcess::end_tree() {
    if (valid()) end_bound_tree(*native_);
}

// The pid, waited for with WNOWAIT.
ExitWatch::ExitWatch(const ChildProcess& child)
    : process_(child.valid() ? static_cast<NativeHandle>(child.process_id()) : kInvalidHandle) {}

ExitWatch::~ExitWatch() = default;

void ExitWatch::wait() const {
    if (process_ == kInvalidHandle) return;
    siginfo_t exit{};
    const id_t pid = static_cast<id_t>(pid_of(process_));
    (void)posix::retry_on_eintr([&] { return ::waitid(P_PID, pid, &exit, WEXITED | WNOWAIT); });
}

// fork and execve: the streams are moved to 0, 1 and 2 in the child (the
// originals may be close-on-exec), every descriptor above 2 is closed on exec,
// and a failure in the child before or at execve (e.g. ENOEXEC) is carried
// back through a close-on-exec pipe, the child reaped before this returns. A
// bound tree: the child leads a process group of its own (new_process_group
// is implied), which a guard process joins before the child runs any code of
// its own; the guard waits for the end of a pipe whose writing end only the
// runtime holds, then sends SIGKILL to the group.
base::Result<ChildProcess> start_child_process(const ProcessStart& start) {
    base::Result<Pipe> report = create_pipe();
    if (!report) return base::Failure{report.error()};
    OwnedHandle null_device;
    ExecPlan plan;
    const NativeHandle streams[3] = {start.stdio.input, start.stdio.output, start.stdio.error};
    for (int i = 0; i < 3; ++i) {
        if (streams[i] == kInvalidHandle && !null_device.valid()) {
            const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            if (fd < 0) return base::Failure{os_error_text(last_os_error())};
            null_device = OwnedHandle(fd);
        }
        plan.stdio[i] = fd_of(streams[i] == kInvalidHandle ? null_device.native() : streams[i]);
    }
    plan.program = start.program.c_str();
    plan.argv = c_string_array(start.arguments, &start.program);
    std::vector<char*> envp;
    if (start.environment) envp = c_string_array(*start.environment, nullptr);
    plan.envp = start.environment ? envp.data() : environ;
    if (start.working_directory) plan.working_directory = start.working_directory->c_str();
    plan.new_process_group = start.new_process_group || start.bind_tree;
    plan.report_fd = fd_of(report.value().write.native());
    Pipe go_ahead;
    if (start.bind_tree) {
        base::Result<Pipe> made = create_pipe();
        if (!made) return base::Failure{made.error()};
        go_ahead = std::move(made).value();
        plan.go_ahead_fd = fd_of(go_ahead.read.native());
        plan.go_ahead_other_end = fd_of(go_ahead.write.native());
    }
    plan.open_descriptors = posix::list_open_descriptors();

    ChildProcess::NativePtr child(new ChildProcess::Native);
    pid_t pid = 0;
    {
        SignalsBlocked blocked;
        pid = ::fork();
        if (pid < 0) return base::Failure{os_error_text(last_os_error())};
        if (pid == 0) run_child(plan);
        child->pid = pid;
        report.value().write.close();
        if (start.bind_tree) {
            go_ahead.read.close();
            // Here too, so that the group exists for the guard to join whether
            // or not the child has got that far.
            (void)::setpgid(pid, pid);
            start_guard(*child);
            // Bound or not, the child goes on; only the runtime's end stops it.
            const char go = 1;
            (void)write_all(go_ahead.write.native(), std::string_view(&go, 1));
            go_ahead.write.close();
        }
    }
    int error = 0;
    if (child_failed(fd_of(report.value().read.native()), error)) {
        reap(pid);
        // The guard goes too, with the group that only it still holds.
        end_bound_tree(*child);
        return base::Failure{os_error_text(static_cast<OsErrorCode>(error))};
    }
    return ChildProcess(std::move(child));
}

// Linux: a pipe of 1 MiB where the system allows one (its default 64 KiB is
// gone in a few milliseconds of a flood, and a child descheduled that long
// would stall its writer); elsewhere, and where refused, the system's own size.
base::Result<ChildPipe> create_child_stdio_pipe(ChildEnd child_end) {
    base::Result<Pipe> pipe = create_pipe();
    if (!pipe) return base::Failure{pipe.error()};
#if defined(F_SETPIPE_SZ)
    constexpr int kChildPipeBytes = 1 << 20;
    (void)::fcntl(fd_of(pipe.value().read.native()), F_SETPIPE_SZ, kChildPipeBytes);
#endif
    if (child_end == ChildEnd::Reads) return ChildPipe{std::move(pipe.value().read), std::move(pipe.value().write)};
    return ChildPipe{std::move(pipe.value().write), std::move(pipe.value().read)};
}

// SIGKILL to the child's process group at once, also after the child's exit
// was seen (what it started may live on); nothing to wait for.
std::optional<ChildProcess> start_ending_tree(ChildProcess& child) {
    // The backend leads its own process group, so its descendants share it
    // unless they moved out on purpose. Once it has exited, its zombie still
    // holds the group's id, so the signal cannot reach a stranger.
    const auto group = static_cast<pid_t>(child.process_id());
    if (group > 0 && !child.gone()) (void)::kill(-group, SIGKILL);
    return std::nullopt;
}

}  // namespace quern::platform
