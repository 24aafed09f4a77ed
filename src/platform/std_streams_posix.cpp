#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "platform/std_streams.hpp"

namespace quern::platform {

namespace {

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

void prepare_process() { std::signal(SIGPIPE, SIG_IGN); }

std::vector<OsString> program_arguments(int argc, char** argv) {
    return std::vector<OsString>(argv, argv + argc);
}

bool write_stdout(std::string_view bytes) { return write_all(STDOUT_FILENO, bytes); }

bool write_stderr(std::string_view bytes) { return write_all(STDERR_FILENO, bytes); }

void exit_process(int code) { std::_Exit(code); }

}  // namespace quern::platform
