#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string>

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

unsigned long own_process_group() { return static_cast<unsigned long>(getpgrp()); }

void close_stdin() { ::close(STDIN_FILENO); }

platform::ChildStdio own_output_streams() { return {platform::kInvalidHandle, STDOUT_FILENO, STDERR_FILENO}; }

std::vector<std::pair<std::string, std::string>> os_records() {
    // Every open descriptor, however high: the listing's own is left out.
    std::vector<int> open;
    DIR* listing = ::opendir("/proc/self/fd");
    if (listing == nullptr) listing = ::opendir("/dev/fd");
    if (listing != nullptr) {
        while (const dirent* entry = ::readdir(listing)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
            const int fd = std::atoi(entry->d_name);
            if (fd != ::dirfd(listing)) open.push_back(fd);
        }
        ::closedir(listing);
    } else {
        for (int fd = 0; fd < 1024; ++fd) {
            if (::fcntl(fd, F_GETFD) != -1) open.push_back(fd);
        }
    }
    std::sort(open.begin(), open.end());
    std::vector<std::pair<std::string, std::string>> records;
    for (const int fd : open) records.emplace_back("fd", std::to_string(fd));
    return records;
}

std::vector<std::string> environment_entries() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
    return entries;
}

namespace {

bool exec(const std::vector<platform::OsString>& program_and_arguments) {
    if (program_and_arguments.empty()) return false;
    std::vector<char*> argv;
    for (const platform::OsString& argument : program_and_arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    return false;
}

}  // namespace

bool start_detached_copy(const platform::OsString& program, const std::vector<platform::OsString>& arguments) {
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const platform::OsString& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        const int null_device = ::open("/dev/null", O_RDWR);
        if (::setsid() < 0 || null_device < 0) ::_exit(90);
        for (int fd = 0; fd < 3; ++fd) ::dup2(null_device, fd);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(90);
    }
    return true;
}

std::optional<int> run_in_closed_job(const std::vector<platform::OsString>&) { return std::nullopt; }

bool exec_ignoring_sigchld(const std::vector<platform::OsString>& program_and_arguments) {
    std::signal(SIGCHLD, SIG_IGN);
    return exec(program_and_arguments);
}

bool run_with_stray_handle(const std::vector<platform::OsString>& program_and_arguments) {
    // High, without close-on-exec: what a careless parent leaves open.
    const int stray = ::fcntl(STDERR_FILENO, F_DUPFD, 100);
    if (stray < 0 || ::setenv("QUERN_STRAY_HANDLE", std::to_string(stray).c_str(), 1) != 0) return false;
    return exec(program_and_arguments);
}

std::string stray_handle_state() {
    const char* named = std::getenv("QUERN_STRAY_HANDLE");
    if (named == nullptr) return "none";
    return ::fcntl(std::atoi(named), F_GETFD) != -1 ? "open" : "closed";
}

}  // namespace quern::test_child
