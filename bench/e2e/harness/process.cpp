#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void Fd::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Pipe make_pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    return Pipe{Fd(ends[0]), Fd(ends[1])};
}

void set_nonblocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("fcntl: ") + std::strerror(errno));
    }
}

bool write_all_within(int fd, const char* data, std::size_t size, int stall_ms) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        pollfd room{fd, POLLOUT, 0};
        const int polled = ::poll(&room, 1, stall_ms);
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0 || (room.revents & (POLLERR | POLLHUP)) != 0) return false;
    }
    return true;
}

Fd open_log(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    return Fd(fd);
}

namespace {

std::vector<std::string> child_environment(const Launch& launch) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const bool replaced = std::any_of(launch.env.begin(), launch.env.end(), [&](const auto& var) {
            return text.size() > var.first.size() && text.substr(0, var.first.size()) == var.first &&
                   text[var.first.size()] == '=';
        });
        if (!replaced) env.emplace_back(text);
    }
    for (const auto& [name, value] : launch.env) env.push_back(name + "=" + value);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// A child's ru_maxrss starts from this process's peak resident set at the
// start (Linux carries the spawning process's high-water mark over through
// exec). Resetting the mark first makes that floor what the harness holds
// now, not the highest it ever held, e.g. while comparing a large output.
void reset_peak_rss() {
    const int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;  // the floor is then only higher; every figure still holds
    [[maybe_unused]] const ssize_t written = ::write(fd, "5", 1);
    ::close(fd);
}

}  // namespace

pid_t launch(const Launch& launch) {
    reset_peak_rss();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, launch.in, 0);
    posix_spawn_file_actions_adddup2(&actions, launch.out, 1);
    posix_spawn_file_actions_adddup2(&actions, launch.err, 2);
    std::vector<std::string> args = launch.argv;
    std::vector<std::string> env = child_environment(launch);
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(failed));
    return pid;
}

Exit wait_for(pid_t pid, std::chrono::milliseconds limit) {
    Exit result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const pid_t done = ::wait4(pid, &result.status, WNOHANG, &result.usage);
        if (done == pid) return result;
        if (done < 0 && errno != EINTR) throw std::runtime_error(std::string("wait4: ") + std::strerror(errno));
        if (std::chrono::steady_clock::now() >= deadline && !result.killed) {
            ::kill(pid, SIGKILL);
            result.killed = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string exit_text(int status) {
    if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

bool exited_cleanly(const Exit& exit) {
    return !exit.killed && WIFEXITED(exit.status) && WEXITSTATUS(exit.status) == 0;
}

long vm_hwm_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

CpuSample cpu_sample(pid_t pid) {
    CpuSample sample;
    const std::string dir = "/proc/" + std::to_string(pid);
    std::ifstream stat(dir + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name may hold spaces; the fields after it are fixed.
    const std::size_t close = text.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        long utime = 0;
        long stime = 0;
        for (int index = 3; fields >> field; ++index) {  // field 3 is the state
            if (index == 14) utime = std::stol(field);
            if (index == 15) {
                stime = std::stol(field);
                sample.tick_ms = 1000.0 * static_cast<double>(utime + stime) /
                                 static_cast<double>(::sysconf(_SC_CLK_TCK));
                break;
            }
        }
    }
    std::error_code error;
    double ns = 0;
    bool any = false;
    for (const auto& task : std::filesystem::directory_iterator(dir + "/task", error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        double run_ns = 0;
        if (schedstat >> run_ns) {
            ns += run_ns;
            any = true;
        }
    }
    if (any) sample.sched_ms = ns / 1e6;
    return sample;
}

std::size_t file_lines(const std::string& path, std::string* first_line) {
    std::ifstream in(path);
    std::string line;
    std::size_t count = 0;
    while (std::getline(in, line)) {
        if (count == 0 && first_line != nullptr) *first_line = line;
        ++count;
    }
    return count;
}

}  // namespace e2e
