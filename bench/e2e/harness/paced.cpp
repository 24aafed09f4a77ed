#include "paced.hpp"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string_view>

#include "process.hpp"

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStallMs = 10'000;
constexpr std::chrono::milliseconds kExitLimit{90'000};

std::string expected_answer(std::size_t id) {
    return "{\"id\":" + std::to_string(id) + ",\"ok\":true,\"result\":{},\"type\":\"response\"}";
}

}  // namespace

PacedRun run_paced(const Setup& setup, bool through_runtime, const RequestShape& shape, std::size_t warmup,
                   int run_index) {
    PacedRun run;
    const std::string log_path = setup.work_dir + "/paced-" + shape.name +
                                 (through_runtime ? "-runtime-" : "-passthrough-") + std::to_string(run_index) +
                                 ".stderr";
    Fd log = open_log(log_path);
    Pipe input = make_pipe();
    Pipe output = make_pipe();
    set_nonblocking(input.write.get());
    const std::vector<std::string> argv = relay_command(setup, through_runtime);
    const pid_t pid = launch({argv, {{"QUERN_BENCH_MODE", "echo"}}, input.read.get(), output.write.get(), log.get()});
    input.read.close();
    output.write.close();
    log.close();

    const std::size_t total = warmup + shape.count;
    std::size_t sent = 0;
    std::size_t answered = 0;
    std::string request;
    std::string pending;
    std::string buffer(1 << 16, '\0');
    auto from = Clock::now();
    while (answered < total && run.error.empty()) {
        while (sent < total && sent - answered < kPacedWindow) {
            request.clear();
            append_request(shape, sent, request);
            if (!write_all_within(input.write.get(), request.data(), request.size(), kStallMs)) {
                run.error = "the relay stopped taking requests";
                break;
            }
            ++sent;
        }
        if (!run.error.empty()) break;
        pollfd ready{output.read.get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, kStallMs);
        if (polled < 0 && errno == EINTR) continue;
        const ssize_t n = polled > 0 ? ::read(output.read.get(), buffer.data(), buffer.size()) : 0;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            run.error = "no answer to request " + std::to_string(answered) + " within 10 s";
            break;
        }
        pending.append(buffer.data(), static_cast<std::size_t>(n));
        std::size_t begin = 0;
        for (std::size_t lf; (lf = pending.find('\n', begin)) != std::string::npos; begin = lf + 1) {
            const std::string_view line = std::string_view(pending).substr(begin, lf - begin);
            if (answered >= sent || line != expected_answer(answered)) {
                run.error = "request " + std::to_string(answered) + " was answered with " +
                            std::string(line.substr(0, 200));
                break;
            }
            if (++answered == warmup) from = Clock::now();
        }
        pending.erase(0, begin);
    }
    const auto to = Clock::now();
    if (run.error.empty()) {
        run.hwm_kib = vm_hwm_kib(pid);
    } else {
        ::kill(pid, SIGKILL);
    }
    input.write.close();
    while (::read(output.read.get(), buffer.data(), buffer.size()) > 0) {
    }
    const Exit exit = wait_for(pid, kExitLimit);
    run.maxrss_kib = exit.usage.ru_maxrss;
    if (run.error.empty() && !exited_cleanly(exit)) {
        run.error = std::string(through_runtime ? "runtime" : "pass-through") + " ended with " + exit_text(exit.status);
    }
    if (run.error.empty()) {
        run.requests_per_second = static_cast<double>(shape.count) / std::chrono::duration<double>(to - from).count();
        run.ok = true;
    }
    return run;
}

}  // namespace e2e
