#include "throughput.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "process.hpp"

namespace e2e {

const char* relay_name(Relay relay) {
    switch (relay) {
        case Relay::Runtime: return "runtime";
        case Relay::RapidJson: return "rapidjson relay";
        case Relay::SimdJson: return "simdjson relay";
        case Relay::Jq: return "jq";
        case Relay::PassThrough: return "pass-through";
    }
    return "?";
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStallMs = 10'000;
// The runtime may give a backend that ignores its stop request 75 s.
constexpr std::chrono::milliseconds kExitLimit{90'000};

constexpr std::size_t kChunk = 1 << 18;

// A piece of output fit to print: control bytes shown as \xNN.
std::string printable(const char* data, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c >= 0x20 && c != 0x7F) {
            text += static_cast<char>(c);
        } else {
            static constexpr char kHex[] = "0123456789abcdef";
            text += {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
        }
    }
    return text;
}

// The file a relay's output must equal, if any, and its size.
struct Reference {
    std::string path;
    std::size_t bytes = 0;
};

// Takes the relay's output as it comes and checks it against the reference
// file (read alongside, from the page cache) without holding on to either.
class Sink {
public:
    Sink(const Reference& reference, std::size_t want_lines) : reference_(reference), want_lines_(want_lines) {
        if (!reference_.path.empty()) {
            file_ = Fd(::open(reference_.path.c_str(), O_RDONLY | O_CLOEXEC));
            if (!file_.valid()) throw std::runtime_error("cannot read " + reference_.path);
            expected_.resize(kChunk);
        }
    }

    void take(const char* data, std::size_t size) {
        if (file_.valid() && mismatch_.empty()) compare(data, size);
        lines_ += static_cast<std::size_t>(std::count(data, data + size, '\n'));
        bytes_ += size;
    }

    bool complete() const { return lines_ >= want_lines_; }
    std::size_t lines() const { return lines_; }

    // Empty when everything that should have arrived did, exactly.
    std::string verdict() const {
        if (!mismatch_.empty()) return mismatch_;
        if (lines_ != want_lines_) {
            return "got " + std::to_string(lines_) + " lines, want " + std::to_string(want_lines_);
        }
        if (file_.valid() && bytes_ != reference_.bytes) {
            return "got " + std::to_string(bytes_) + " bytes, want " + std::to_string(reference_.bytes);
        }
        return {};
    }

private:
    void compare(const char* data, std::size_t size) {
        const std::size_t available = bytes_ < reference_.bytes ? reference_.bytes - bytes_ : 0;
        const std::size_t common = std::min(size, available);
        if (common > 0) {
            const ssize_t got = ::pread(file_.get(), expected_.data(), common, static_cast<off_t>(bytes_));
            if (got != static_cast<ssize_t>(common)) {
                mismatch_ = "cannot read " + reference_.path;
                return;
            }
        }
        if (std::memcmp(data, expected_.data(), common) == 0) {
            if (size > available) mismatch_ = "output longer than expected";
            return;
        }
        std::size_t at = 0;
        while (data[at] == expected_[at]) ++at;
        const std::size_t line = lines_ + 1 + static_cast<std::size_t>(std::count(data, data + at, '\n'));
        mismatch_ = "output differs from the expected text at line " + std::to_string(line) + ", byte " +
                    std::to_string(bytes_ + at) + ": expected \"" +
                    printable(expected_.data() + at, std::min<std::size_t>(40, common - at)) + "\", got \"" +
                    printable(data + at, std::min<std::size_t>(40, size - at)) + "\"";
    }

    Reference reference_;
    std::size_t want_lines_;
    Fd file_;
    std::vector<char> expected_;
    std::size_t lines_ = 0;
    std::size_t bytes_ = 0;
    std::string mismatch_;
};

Reference reference_for(Relay relay, const Shape& shape) {
    switch (relay) {
        case Relay::Runtime:
        case Relay::RapidJson: return {shape.expected_path, shape.expected_bytes};
        case Relay::PassThrough: return {shape.input_path, shape.input_bytes};
        case Relay::SimdJson:
        case Relay::Jq: return {};
    }
    return {};
}

std::vector<std::string> peer_command(const Setup& setup, Relay relay) {
    switch (relay) {
        case Relay::RapidJson: return {setup.rapidjson_relay};
        case Relay::SimdJson: return {setup.simdjson_relay};
        case Relay::Jq: return {setup.jq, "-c", "-S", "--unbuffered", "."};
        case Relay::PassThrough: return {setup.passthrough};
        case Relay::Runtime: break;
    }
    throw std::logic_error("the runtime is no peer");
}

}  // namespace

ThroughputRun run_throughput(const Setup& setup, Relay relay, const Shape& shape, int run_index) {
    ThroughputRun run;
    const std::string log_path = setup.work_dir + "/" + shape.name + "-" + std::to_string(static_cast<int>(relay)) +
                                 "-" + std::to_string(run_index) + ".stderr";
    Fd log = open_log(log_path);
    Sink sink(reference_for(relay, shape), shape.lines);
    Pipe writer_input = make_pipe();
    Pipe output = make_pipe();
    const std::vector<std::pair<std::string, std::string>> env = {{"QUERN_BENCH_MODE", "write"},
                                                                  {"QUERN_BENCH_FILE", shape.input_path}};
    pid_t relay_pid = -1;
    pid_t writer_pid = -1;

    const auto start = Clock::now();
    if (relay == Relay::Runtime) {
        relay_pid = launch({{setup.runtime, "--project", setup.project}, env, writer_input.read.get(),
                            output.write.get(), log.get()});
    } else {
        Pipe middle = make_pipe();
        writer_pid = launch({{setup.backend}, env, writer_input.read.get(), middle.write.get(), log.get()});
        relay_pid = launch({peer_command(setup, relay), {}, middle.read.get(), output.write.get(), log.get()});
    }
    writer_input.read.close();
    output.write.close();
    log.close();

    std::vector<char> buffer(kChunk);
    auto end = start;
    bool stalled = false;
    for (;;) {
        pollfd ready{output.read.get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, kStallMs);
        if (polled < 0 && errno == EINTR) continue;
        if (polled == 0) {
            if (stalled) {  // not even the end of the input helped
                ::kill(relay_pid, SIGKILL);
                if (writer_pid > 0) ::kill(writer_pid, SIGKILL);
                break;
            }
            stalled = true;
            run.error = "no output for 10 s after " + std::to_string(sink.lines()) + " lines";
            writer_input.write.close();
            continue;
        }
        const ssize_t n = ::read(output.read.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        sink.take(buffer.data(), static_cast<std::size_t>(n));
        if (sink.complete() && writer_input.write.valid()) {
            end = Clock::now();
            if (relay == Relay::Runtime) run.hwm_kib = vm_hwm_kib(relay_pid);
            writer_input.write.close();
        }
    }
    output.read.close();

    const Exit relay_exit = wait_for(relay_pid, kExitLimit);
    const Exit writer_exit = writer_pid > 0 ? wait_for(writer_pid, kExitLimit) : Exit{};
    run.maxrss_kib = relay_exit.usage.ru_maxrss;
    run.stderr_lines = file_lines(log_path, &run.stderr_first);
    run.seconds = std::chrono::duration<double>(end - start).count();

    if (run.error.empty()) run.error = sink.verdict();
    if (run.error.empty() && !exited_cleanly(relay_exit)) {
        run.error = std::string(relay_name(relay)) + " ended with " + exit_text(relay_exit.status);
    }
    if (run.error.empty() && writer_pid > 0 && !exited_cleanly(writer_exit)) {
        run.error = "writer ended with " + exit_text(writer_exit.status);
    }
    run.ok = run.error.empty();
    return run;
}

}  // namespace e2e
