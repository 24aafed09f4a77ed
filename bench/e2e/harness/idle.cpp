#include "idle.hpp"

#include <unistd.h>

#include <chrono>
#include <thread>

#include "process.hpp"

namespace e2e {

IdleCpu measure_idle(const Setup& setup, int seconds) {
    IdleCpu result;
    Pipe input = make_pipe();
    Pipe output = make_pipe();
    Fd log = open_log(setup.work_dir + "/idle.stderr");
    const pid_t pid = launch({{setup.runtime, "--project", setup.project},
                              {{"QUERN_BENCH_MODE", "idle"}},
                              input.read.get(),
                              output.write.get(),
                              log.get()});
    input.read.close();
    output.write.close();
    log.close();

    std::this_thread::sleep_for(std::chrono::seconds(1));
    const CpuSample before = cpu_sample(pid);
    const auto from = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const CpuSample after = cpu_sample(pid);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();

    input.write.close();
    char drain[4096];
    while (::read(output.read.get(), drain, sizeof drain) > 0) {
    }
    const Exit exit = wait_for(pid, std::chrono::milliseconds(90'000));
    if (before.tick_ms < 0 || after.tick_ms < 0) {
        result.error = "could not read /proc for the runtime";
    } else if (!exited_cleanly(exit)) {
        result.error = "runtime ended with " + exit_text(exit.status);
    } else {
        result.tick_ms = after.tick_ms - before.tick_ms;
        if (before.sched_ms >= 0 && after.sched_ms >= 0) result.sched_ms = after.sched_ms - before.sched_ms;
        result.ok = true;
    }
    return result;
}

}  // namespace e2e
