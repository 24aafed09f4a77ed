#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "platform/handle.hpp"
#include "platform/this_process.hpp"

namespace quern::platform {

void prepare_process() {
    std::signal(SIGPIPE, SIG_IGN);
    // An ignored SIGCHLD, inherited from whatever started the runtime, would
    // have the kernel reap the backend, and its exit could not be read.
    std::signal(SIGCHLD, SIG_DFL);
}

std::vector<OsString> program_arguments(int argc, char** argv) {
    return std::vector<OsString>(argv, argv + argc);
}

NativeHandle standard_input() { return STDIN_FILENO; }

bool write_stdout(std::string_view bytes) { return write_all(STDOUT_FILENO, bytes).ok(); }

bool write_stderr(std::string_view bytes) { return write_all(STDERR_FILENO, bytes).ok(); }

void exit_process(int code) { std::_Exit(code); }

}  // namespace quern::platform
