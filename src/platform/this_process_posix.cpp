#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "platform/handle.hpp"
#include "platform/posix/eintr.hpp"
#include "platform/this_process.hpp"

namespace quern::platform {

namespace {

// The pipe from the handler to the waiting thread, one byte a request. Set
// before the handler is installed and never changed after.
int request_read_end = -1;
int request_write_end = -1;

// Only async-signal-safe calls; errno is put back for the code it interrupted.
void on_termination_request(int) {
    const int saved = errno;
    const char request = 1;
    const ssize_t ignored = ::write(request_write_end, &request, 1);
    (void)ignored;
    errno = saved;
}

}  // namespace

void prepare_process() {
    std::signal(SIGPIPE, SIG_IGN);
    // An ignored SIGCHLD, inherited from whatever started the runtime, would
    // have the kernel reap the backend, and its exit could not be read.
    std::signal(SIGCHLD, SIG_DFL);
#ifdef __GLIBC__
    // Lines of hundreds of kilobytes pass through several threads. glibc would
    // raise its mmap threshold after the first one is freed and from then on
    // keep such lines in per-thread arenas that never shrink; a fixed
    // threshold gives each one back to the system when it goes, and two arenas
    // are plenty for threads that mostly wait.
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    ::mallopt(M_ARENA_MAX, 2);
#endif
}

std::vector<OsString> program_arguments(int argc, char** argv) {
    return std::vector<OsString>(argv, argv + argc);
}

NativeHandle standard_input() { return STDIN_FILENO; }

bool write_stdout(std::string_view bytes) { return write_all(STDOUT_FILENO, bytes).ok(); }

bool write_stderr(std::string_view bytes) { return write_all(STDERR_FILENO, bytes).ok(); }

base::Status catch_termination_requests() {
    if (request_read_end >= 0) return {};
    base::Result<Pipe> pipe = create_pipe();
    if (!pipe) return base::Failure{pipe.error()};
    // A full pipe loses a request rather than stopping the thread it interrupted;
    // tens of thousands are waiting by then, and two are all that matter.
    make_pipe_writes_nonblocking(pipe.value().write.native());
    request_read_end = static_cast<int>(pipe.value().read.release());
    request_write_end = static_cast<int>(pipe.value().write.release());
    struct sigaction action {};
    action.sa_handler = on_termination_request;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int request : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(request, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        if (::sigaction(request, &action, nullptr) != 0) return base::Failure{os_error_text(last_os_error())};
    }
    return {};
}

bool wait_for_termination_request() {
    if (request_read_end < 0) {
        for (;;) ::pause();
    }
    char request = 0;
    // Else the end of the pipe, or it failed: nothing can come through it any more.
    return posix::retry_on_eintr([&] { return ::read(request_read_end, &request, 1); }) == 1;
}

void exit_process(int code) { std::_Exit(code); }

}  // namespace quern::platform
