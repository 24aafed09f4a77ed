#include "fire_hose.hpp"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string_view>
#include <thread>

#include "process.hpp"

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStallMs = 10'000;
constexpr auto kMarkerWait = std::chrono::seconds(30);
constexpr std::chrono::milliseconds kExitLimit{90'000};
constexpr std::size_t kWriteChunk = 1 << 16;

constexpr std::string_view kFull = "\"error\":\"Cannot queue backend request: sending on a full channel\"";
constexpr std::string_view kBackendExited = "\"error\":\"Python backend exited";
constexpr std::string_view kMarkerId = "\"id\":\"end-";
constexpr std::string_view kCount = "\"result\":{\"count\":";

bool contains(std::string_view line, std::string_view part) { return line.find(part) != std::string_view::npos; }

// What came back from the relay, sorted as it arrives.
class Tally {
public:
    void take(std::string_view line) {
        std::lock_guard lock(mutex_);
        const bool marker = contains(line, kMarkerId);
        if (contains(line, kFull)) {
            ++(marker ? marker_refusals_ : refused_);
        } else if (marker && contains(line, kCount)) {
            const std::size_t at = line.find(kCount) + kCount.size();
            marker_count_ = std::stoull(std::string(line.substr(at, line.find('}', at) - at)));
            marker_time_ = Clock::now();
            answered_ = true;
        } else if (contains(line, kBackendExited)) {
            ++at_exit_;
        } else if (unexpected_++ == 0) {
            first_unexpected_ = std::string(line.substr(0, 200));
        }
        changed_.notify_all();
    }

    void end() {
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    enum class Marker { Answered, Refused, Gone };

    // Waits for the fate of marker number `sent_markers - 1`.
    Marker await_marker(std::size_t sent_markers, Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, deadline, [&] { return answered_ || marker_refusals_ >= sent_markers || ended_; });
        if (answered_) return Marker::Answered;
        return marker_refusals_ >= sent_markers ? Marker::Refused : Marker::Gone;
    }

    // Read once the reader has finished.
    std::size_t refused_ = 0;
    std::size_t marker_refusals_ = 0;
    std::size_t at_exit_ = 0;
    std::size_t unexpected_ = 0;
    std::string first_unexpected_;
    unsigned long long marker_count_ = 0;
    Clock::time_point marker_time_;
    bool answered_ = false;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
};

void read_output(int fd, Tally& tally) {
    std::string pending;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer.data(), static_cast<std::size_t>(n));
        std::size_t begin = 0;
        for (std::size_t lf; (lf = pending.find('\n', begin)) != std::string::npos; begin = lf + 1) {
            tally.take(std::string_view(pending).substr(begin, lf - begin));
        }
        pending.erase(0, begin);
    }
    tally.end();
}

long long read_count(const std::string& path) {
    std::ifstream in(path);
    long long count = -1;
    if (!(in >> count)) return -1;
    return count;
}

}  // namespace

FireHoseRun run_fire_hose(const Setup& setup, bool through_runtime, const RequestShape& shape, int run_index) {
    FireHoseRun run;
    const std::string stem = setup.work_dir + "/fire-" + shape.name + (through_runtime ? "-runtime-" : "-passthrough-") +
                             std::to_string(run_index);
    const std::string count_path = stem + ".count";
    Fd log = open_log(stem + ".stderr");
    Pipe input = make_pipe();
    Pipe output = make_pipe();
    set_nonblocking(input.write.get());
    const std::vector<std::string> argv = relay_command(setup, through_runtime);

    const auto start = Clock::now();
    const pid_t pid = launch({argv,
                              {{"QUERN_BENCH_MODE", "count"}, {"QUERN_BENCH_COUNT_FILE", count_path}},
                              input.read.get(),
                              output.write.get(),
                              log.get()});
    input.read.close();
    output.write.close();
    log.close();

    Tally tally;
    std::thread reader(read_output, output.read.get(), std::ref(tally));

    std::string chunk;
    chunk.reserve(kWriteChunk + shape.data_bytes + 256);
    bool writing = true;
    for (std::size_t i = 0; i < shape.count && writing; ++i) {
        append_request(shape, i, chunk);
        if (chunk.size() >= kWriteChunk || i + 1 == shape.count) {
            writing = write_all_within(input.write.get(), chunk.data(), chunk.size(), kStallMs);
            chunk.clear();
        }
    }
    if (!writing) run.error = "the relay stopped taking requests";

    const auto deadline = Clock::now() + kMarkerWait;
    for (std::size_t markers = 0; run.error.empty();) {
        const std::string marker = "{\"id\":\"end-" + std::to_string(markers) + "\",\"command\":\"benchmark\"}\n";
        if (!write_all_within(input.write.get(), marker.data(), marker.size(), kStallMs)) {
            run.error = "the relay stopped taking requests";
            break;
        }
        ++markers;
        const Tally::Marker fate = tally.await_marker(markers, deadline);
        if (fate == Tally::Marker::Answered) break;
        if (fate == Tally::Marker::Gone) {
            run.error = Clock::now() >= deadline ? "the end marker was not answered within 30 s"
                                                 : "the relay's output ended before the end marker's answer";
        }
    }
    if (run.error.empty()) {
        run.cpu_ms = cpu_sample(pid).sched_ms;
        run.hwm_kib = vm_hwm_kib(pid);
    } else {
        ::kill(pid, SIGKILL);
    }
    input.write.close();
    const Exit exit = wait_for(pid, kExitLimit);
    reader.join();
    output.read.close();

    run.maxrss_kib = exit.usage.ru_maxrss;
    run.stderr_lines = file_lines(stem + ".stderr", &run.stderr_first);
    run.refused = tally.refused_;
    const long long counted = read_count(count_path);
    if (counted >= 0) run.delivered = static_cast<std::size_t>(counted);
    if (run.error.empty()) {
        run.seconds = std::chrono::duration<double>(tally.marker_time_ - start).count();
        const std::string sent = std::to_string(shape.count);
        if (!exited_cleanly(exit)) {
            run.error = std::string(through_runtime ? "runtime" : "pass-through") + " ended with " +
                        exit_text(exit.status);
        } else if (counted < 0) {
            run.error = "the backend wrote no count";
        } else if (run.delivered + run.refused != shape.count) {
            run.error = std::to_string(run.delivered) + " requests arrived and " + std::to_string(run.refused) +
                        " were refused, of " + sent + " sent";
        } else if (tally.marker_count_ != run.delivered) {
            run.error = "the end marker counted " + std::to_string(tally.marker_count_) + " requests, the backend " +
                        std::to_string(run.delivered) + " in all";
        } else if (tally.unexpected_ > 0) {
            run.error = std::to_string(tally.unexpected_) + " unexpected output lines, e.g. " + tally.first_unexpected_;
        } else if (through_runtime && tally.at_exit_ != run.delivered) {
            run.error = std::to_string(tally.at_exit_) + " pending requests answered at exit, want " +
                        std::to_string(run.delivered);
        }
    }
    run.ok = run.error.empty();
    return run;
}

}  // namespace e2e
