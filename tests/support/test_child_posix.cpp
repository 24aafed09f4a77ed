#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "support/test_child_os.hpp"

extern char** environ;

namespace quern::test_child {

platform::OsString own_path(const platform::OsString& argv0) {
    char resolved[PATH_MAX];
    // A venv's python is a link to an interpreter elsewhere; the program to
    // start again is what the link points to.
    return realpath(argv0.c_str(), resolved) ? platform::OsString(resolved) : argv0;
}

unsigned long own_process_id() { return static_cast<unsigned long>(getpid()); }

void close_stdin() { ::close(STDIN_FILENO); }

platform::ChildStdio own_output_streams() { return {platform::kInvalidHandle, STDOUT_FILENO, STDERR_FILENO}; }

std::vector<std::pair<std::string, std::string>> os_records() {
    std::vector<std::pair<std::string, std::string>> records;
    for (int fd = 0; fd < 1024; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) records.emplace_back("fd", std::to_string(fd));
    }
    return records;
}

std::vector<std::string> environment_entries() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
    return entries;
}

}  // namespace quern::test_child
