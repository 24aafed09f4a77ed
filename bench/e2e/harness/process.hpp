#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// An owned file descriptor, closed when dropped.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { close(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void close();

private:
    int fd_ = -1;
};

struct Pipe {
    Fd read;
    Fd write;
};

// Both ends close-on-exec, so a child holds only the ends it is given; a stray
// copy of a write end elsewhere would keep its reader from ever seeing the end.
Pipe make_pipe();

// Makes the harness's end of a pipe non-blocking (the child's end is a file
// description of its own and stays blocking).
void set_nonblocking(int fd);

// Writes all of data to a non-blocking descriptor, waiting for room as long as
// the reader takes something within stall_ms each time. False when the reader
// is gone or stalled.
bool write_all_within(int fd, const char* data, std::size_t size, int stall_ms);

// Opens (truncating) a file for a child's standard error.
Fd open_log(const std::string& path);

struct Launch {
    std::vector<std::string> argv;
    // Added to the harness's own environment, replacing a variable of that name.
    std::vector<std::pair<std::string, std::string>> env;
    int in = -1;
    int out = -1;
    int err = -1;
};

// Starts argv[0] (a path) with the three descriptors as its standard streams.
// Throws std::runtime_error when it cannot be started.
pid_t launch(const Launch& launch);

struct Exit {
    int status = 0;
    rusage usage{};
    bool killed = false;  // did not end within the limit and was killed
};

// Reaps pid with wait4; kills it once limit has passed.
Exit wait_for(pid_t pid, std::chrono::milliseconds limit);

// "exit 0", "exit 1", "signal 9"
std::string exit_text(int status);
bool exited_cleanly(const Exit& exit);

// VmHWM of a live process (its own peak resident set), in KiB; -1 if unreadable.
long vm_hwm_kib(pid_t pid);

// CPU time a live process has used so far, in milliseconds, two ways:
// utime + stime from /proc/PID/stat (clock-tick resolution) and the sum of the
// nanosecond run times in /proc/PID/task/*/schedstat.
struct CpuSample {
    double tick_ms = -1;
    double sched_ms = -1;
};
CpuSample cpu_sample(pid_t pid);

// Counts lines in a file, 0 if it cannot be read; returns its first line too.
std::size_t file_lines(const std::string& path, std::string* first_line);

}  // namespace e2e
