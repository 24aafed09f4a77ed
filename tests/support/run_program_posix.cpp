#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

#include "support/run_program.hpp"

extern char** environ;

namespace quern::testing {

namespace {

struct Pipe {
    int read = -1;
    int write = -1;
};

Pipe make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    return {fds[0], fds[1]};
}

// Feeds stdin and drains stdout and stderr together, so that neither side can
// block the other on a full pipe.
void exchange(int in, std::string_view input, int out, int err, ProgramOutput& result) {
    std::signal(SIGPIPE, SIG_IGN);
    pollfd fds[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    if (input.empty()) {
        ::close(in);
        fds[2].fd = -1;
    }
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (::poll(fds, 3, -1) < 0 && errno != EINTR) throw std::runtime_error("poll failed");
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[65536];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
        if (fds[2].fd >= 0 && fds[2].revents != 0) {
            ssize_t n = ::write(in, input.data(), input.size());
            if (n > 0) input.remove_prefix(static_cast<std::size_t>(n));
            if ((n < 0 && errno != EINTR) || input.empty()) {
                ::close(in);
                fds[2].fd = -1;
            }
        }
    }
    if (fds[2].fd >= 0) ::close(in);
}

}  // namespace

ProgramOutput run_program(const platform::OsString& program,
                          const std::vector<platform::OsString>& arguments,
                          const RunOptions& options) {
    Pipe in = make_pipe(), out = make_pipe(), err = make_pipe();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in.read);
    ::close(out.write);
    ::close(err.write);
    if (spawned != 0) throw std::runtime_error("posix_spawn failed for " + program);
    ProgramOutput result;
    if (options.close_stdout) {
        ::close(out.read);
        out.read = -1;
    }
    exchange(in.write, options.stdin_text, out.read, err.read, result);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

platform::OsString runtime_binary() { return QUERN_RUNTIME_BINARY; }

}  // namespace quern::testing
