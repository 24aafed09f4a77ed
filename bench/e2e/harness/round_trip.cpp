#include "round_trip.hpp"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <vector>

#include "process.hpp"

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAnswerWaitMs = 10'000;

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads until `pending` holds a whole line, then moves it to `line`.
bool read_line(int fd, std::string& pending, std::string& line) {
    char buffer[4096];
    for (;;) {
        const std::size_t lf = pending.find('\n');
        if (lf != std::string::npos) {
            line.assign(pending, 0, lf);
            pending.erase(0, lf + 1);
            return true;
        }
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, kAnswerWaitMs);
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

double percentile(std::vector<double> sorted, double fraction) {
    // Nearest rank: the smallest sample with at least this fraction at or below it.
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::max<std::size_t>(rank, 1) - 1];
}

}  // namespace

RoundTrip run_round_trip(const Setup& setup, bool through_runtime, int count, int warmup) {
    RoundTrip result;
    Pipe requests = make_pipe();
    Pipe answers = make_pipe();
    Fd log = open_log(setup.work_dir + (through_runtime ? "/rt-runtime.stderr" : "/rt-passthrough.stderr"));
    const std::vector<std::string> argv = relay_command(setup, through_runtime);
    const pid_t pid = launch({argv, {{"QUERN_BENCH_MODE", "echo"}}, requests.read.get(), answers.write.get(), log.get()});
    requests.read.close();
    answers.write.close();
    log.close();

    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(count));
    std::string pending;
    std::string line;
    for (int i = 0; i < warmup + count; ++i) {
        const std::string id = std::to_string(i);
        const std::string request = "{\"id\":" + id + ",\"command\":\"status\",\"payload\":{}}\n";
        const std::string want = "{\"id\":" + id + ",\"ok\":true,\"result\":{},\"type\":\"response\"}";
        const auto sent = Clock::now();
        if (!write_all(requests.write.get(), request) || !read_line(answers.read.get(), pending, line)) {
            result.error = "no answer to request " + id;
            break;
        }
        const auto answered = Clock::now();
        if (line != want) {
            result.error = "request " + id + " was answered with " + line;
            break;
        }
        if (i >= warmup) micros.push_back(std::chrono::duration<double, std::micro>(answered - sent).count());
    }
    requests.write.close();
    if (!result.error.empty()) ::kill(pid, SIGKILL);
    char drain[4096];
    while (::read(answers.read.get(), drain, sizeof drain) > 0) {
    }
    const Exit exit = wait_for(pid, std::chrono::milliseconds(90'000));
    result.maxrss_kib = exit.usage.ru_maxrss;
    if (result.error.empty() && !exited_cleanly(exit)) result.error = "relay ended with " + exit_text(exit.status);
    if (result.error.empty() && !micros.empty()) {
        std::sort(micros.begin(), micros.end());
        result.count = static_cast<int>(micros.size());
        result.median_us = percentile(micros, 0.5);
        result.p99_us = percentile(micros, 0.99);
        result.max_us = micros.back();
        result.ok = true;
    }
    return result;
}

}  // namespace e2e
