// The floor for any relay: bytes copied as they come, no parsing.
//   passthrough                stdin -> stdout
//   passthrough --spawn PROG   starts PROG on pipes and sits between it and its
//                              own standard streams in both directions, as the
//                              runtime sits between a front end and a backend.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

extern char** environ;

#include "write_all.hpp"

namespace {

constexpr std::size_t kBuffer = 1 << 20;

using e2e::write_all;

void copy(int from, int to) {
    std::string buffer(kBuffer, '\0');
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        if (!write_all(to, buffer.data(), static_cast<std::size_t>(n))) return;
    }
}

int spawn_between(char* program) {
    int to_child[2];
    int from_child[2];
    if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) {
        std::perror("pipe2");
        return 2;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
    char* argv[] = {program, nullptr};
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        std::fprintf(stderr, "passthrough: cannot start %s: %s\n", program, std::strerror(failed));
        return 2;
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    std::thread requests([&] {
        copy(0, to_child[1]);
        ::close(to_child[1]);  // the child sees the end of its input
    });
    copy(from_child[0], 1);
    requests.detach();  // it may still sit in a read of our stdin
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    if (argc == 3 && std::string(argv[1]) == "--spawn") return spawn_between(argv[2]);
    if (argc != 1) {
        std::fputs("usage: passthrough [--spawn PROGRAM]\n", stderr);
        return 2;
    }
    copy(0, 1);
    return 0;
}
