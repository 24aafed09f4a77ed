#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "scripted_backend_os.hpp"

namespace quern::test_backend {

std::string own_path(const char* argv0) {
    char resolved[PATH_MAX];
    // argv[0] is the venv's python link; the real program is what it points to.
    return realpath(argv0, resolved) ? std::string(resolved) : std::string(argv0);
}

unsigned long own_process_id() { return static_cast<unsigned long>(getpid()); }

void close_stdin() { ::close(STDIN_FILENO); }

platform::ChildStdio own_stdio() { return {platform::kInvalidHandle, STDOUT_FILENO, STDERR_FILENO}; }

}  // namespace quern::test_backend
