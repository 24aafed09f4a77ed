#include "support/test_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace quern::testing {

struct TestProcess::Stream {
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::string bytes;
    std::size_t taken = 0;  // bytes handed out as whole lines
    bool ended = false;
    bool held = false;  // the reader waits before its next read
    std::chrono::steady_clock::time_point ended_at;

    // With the mutex held.
    void end() {
        ended = true;
        ended_at = std::chrono::steady_clock::now();
        changed.notify_all();
    }
};

// Kills the process when it is still running at its bound. It and the exit
// wait meet under one lock, and the wait reaps only after it has told the
// watchdog, so the kill can never reach a pid the system has handed on.
struct TestProcess::Watchdog {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;  // exited, or the TestProcess is going
    bool fired = false;
    std::chrono::milliseconds bound{};
    std::thread thread;

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        changed.notify_all();
    }
};

namespace {

using Clock = std::chrono::steady_clock;

// The end of a stream's text, at most limit bytes of it.
std::string last_bytes(const std::string& text, std::size_t limit) {
    return text.size() <= limit ? text : "..." + text.substr(text.size() - limit);
}

platform::ChildPipe child_pipe(platform::ChildEnd end) {
    base::Result<platform::ChildPipe> pipe = platform::create_child_stdio_pipe(end);
    if (!pipe.ok()) throw std::runtime_error("cannot make a pipe: " + pipe.error());
    return std::move(pipe).value();
}

}  // namespace

TestProcess::TestProcess(platform::OsString program, std::vector<platform::OsString> arguments,
                         StartOptions options)
    : stdout_(std::make_shared<Stream>()), stderr_(std::make_shared<Stream>()) {
    platform::ChildPipe in = child_pipe(platform::ChildEnd::Reads);
    platform::ChildPipe out = child_pipe(platform::ChildEnd::Writes);
    platform::ChildPipe err = child_pipe(platform::ChildEnd::Writes);
    platform::ProcessStart start;
    start.program = std::move(program);
    start.arguments = std::move(arguments);
    start.working_directory = std::move(options.working_directory);
    start.environment = std::move(options.environment);
    start.stdio = {in.child.native(), out.child.native(), err.child.native()};
    if (!options.read_stdout) out.runtime.close();
    started_at_ = Clock::now();
    base::Result<platform::ChildProcess> process = platform::start_child_process(start);
#ifdef _WIN32
    // Wine now and then fails a process creation with ERROR_INTERNAL_ERROR
    // (1359) and succeeds with the same call a moment later; the runtime under
    // test is not involved yet, so the harness tries again.
    for (int tries = 1; !process.ok() && process.error().find("(os error 1359)") != std::string::npos && tries < 5;
         ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        process = platform::start_child_process(start);
    }
#endif
    if (!process.ok()) {
        throw std::runtime_error("cannot start " + platform::to_utf8_lossy(start.program) + ": " + process.error());
    }
    process_ = std::move(process).value();
    stdin_ = std::move(in.runtime);
    // Detached: a grandchild may hold an output pipe open long after the test
    // is done with this object; each reader owns its pipe end and its stream.
    const auto read_until_end = [](platform::OwnedHandle pipe, std::shared_ptr<Stream> stream) {
        char buffer[65536];
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(stream->mutex);
                stream->changed.wait(lock, [&] { return !stream->held; });
            }
            const platform::ReadOutcome read = platform::read_some(pipe.native(), buffer, sizeof buffer);
            std::lock_guard<std::mutex> lock(stream->mutex);
            if (read.kind != platform::ReadOutcome::Kind::Data) {
                stream->end();
                return;
            }
            stream->bytes.append(buffer, read.size);
            stream->changed.notify_all();
        }
    };
    stdout_->held = options.hold_stdout;
    if (options.read_stdout) {
        std::thread(read_until_end, std::move(out.runtime), stdout_).detach();
    } else {
        std::lock_guard<std::mutex> lock(stdout_->mutex);
        stdout_->ended = true;
        stdout_->ended_at = started_at_;
    }
    std::thread(read_until_end, std::move(err.runtime), stderr_).detach();
    watchdog_ = std::make_unique<Watchdog>();
    watchdog_->bound = options.run_bound;
    watchdog_->thread = std::thread([this] {
        std::unique_lock<std::mutex> lock(watchdog_->mutex);
        if (!watchdog_->changed.wait_for(lock, watchdog_->bound, [this] { return watchdog_->done; })) {
            watchdog_->fired = true;
            process_.terminate_process();
        }
    });
    // The child's ends close here, so the readers see the end once the child
    // (and whatever it handed them on to) has let go of them.
}

TestProcess::~TestProcess() {
    watchdog_->stop();
    watchdog_->thread.join();
    stdin_.close();
    if (process_.valid() && process_.poll_exit().state == platform::ExitPoll::State::Running) {
        process_.terminate_process();
        (void)process_.wait_for_exit();
    }
}

bool TestProcess::write(std::string_view bytes) {
    return stdin_.valid() && platform::write_all(stdin_.native(), bytes).ok();
}

void TestProcess::send(std::string_view line) {
    if (!stdin_.valid()) {
        ADD_FAILURE() << "send after close_stdin";
        return;
    }
    const base::Status written = platform::write_all(stdin_.native(), std::string(line) + "\n");
    EXPECT_TRUE(written.ok()) << written.error();
}

void TestProcess::close_stdin() { stdin_.close(); }

void TestProcess::kill() { process_.terminate_process(); }

void TestProcess::resume_stdout() {
    std::lock_guard<std::mutex> lock(stdout_->mutex);
    stdout_->held = false;
    stdout_->changed.notify_all();
}

std::optional<std::string> TestProcess::next_line() {
    if (wait_failed_) return next_line(std::chrono::milliseconds(0));
    std::optional<std::string> line = next_line(kPromptWait);
    if (!line) {
        wait_failed_ = true;
        ADD_FAILURE() << "waited " << kPromptWait.count() << " s for a line on stdout; none came\n" << tail();
    }
    return line;
}

std::string TestProcess::tail() const {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(stdout_->mutex);
        text = "its stdout so far" + std::string(stdout_->ended ? " (ended)" : "") + ":\n" +
               last_bytes(stdout_->bytes, 1500);
    }
    std::lock_guard<std::mutex> lock(stderr_->mutex);
    return text + "\nits stderr so far:\n" + last_bytes(stderr_->bytes, 1500);
}

bool TestProcess::overran() const {
    std::lock_guard<std::mutex> lock(watchdog_->mutex);
    return watchdog_->fired;
}

std::optional<std::string> TestProcess::next_line(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(stdout_->mutex);
    std::size_t newline = std::string::npos;
    stdout_->changed.wait_for(lock, timeout, [&] {
        newline = stdout_->bytes.find('\n', stdout_->taken);
        return newline != std::string::npos || stdout_->ended;
    });
    if (newline == std::string::npos) return std::nullopt;
    std::string line = stdout_->bytes.substr(stdout_->taken, newline - stdout_->taken);
    stdout_->taken = newline + 1;
    return line;
}

std::vector<std::string> TestProcess::lines() {
    std::vector<std::string> lines;
    while (std::optional<std::string> line = next_line(std::chrono::milliseconds(0))) lines.push_back(*line);
    return lines;
}

std::string TestProcess::stdout_text() const {
    std::lock_guard<std::mutex> lock(stdout_->mutex);
    return stdout_->bytes;
}

std::string TestProcess::stderr_text() const {
    std::lock_guard<std::mutex> lock(stderr_->mutex);
    return stderr_->bytes;
}

int TestProcess::wait_for_exit() {
    platform::ExitWatch(process_).wait();
    watchdog_->stop();
    const platform::ExitPoll exit = process_.wait_for_exit();
    if (exit.state != platform::ExitPoll::State::Exited) {
        ADD_FAILURE() << "the exit could not be seen (os error " << exit.error << ")";
    }
    if (exited_at_ == Clock::time_point()) exited_at_ = Clock::now();
    for (const std::shared_ptr<Stream>& stream : {stdout_, stderr_}) {
        std::unique_lock<std::mutex> lock(stream->mutex);
        stream->changed.wait_for(lock, kPromptWait, [&] { return stream->ended; });
    }
    if (overran()) {
        wait_failed_ = true;
        ADD_FAILURE() << "still running at its bound, " << watchdog_->bound.count()
                      << " ms after its start, so it was killed\n"
                      << tail();
    }
    return static_cast<int>(exit.exit_code);
}

std::chrono::steady_clock::duration TestProcess::output_time() const {
    std::lock_guard<std::mutex> lock(stdout_->mutex);
    return stdout_->ended_at - started_at_;
}

ProgramOutput run_program(const platform::OsString& program, const std::vector<platform::OsString>& arguments,
                          const RunOptions& options) {
    TestProcess process(program, arguments, {.read_stdout = !options.close_stdout});
    // A program that stops reading early makes the rest of its input fail to
    // go, which is no concern of a run to completion.
    if (!options.stdin_text.empty()) (void)process.write(options.stdin_text);
    process.close_stdin();
    ProgramOutput output;
    output.exit_code = process.wait_for_exit();
    output.out = process.stdout_text();
    output.err = process.stderr_text();
    return output;
}

std::vector<platform::OsString> os_strings(const std::vector<std::string>& texts) {
    std::vector<platform::OsString> strings;
    for (const std::string& text : texts) strings.push_back(platform::os_string_from_utf8(text));
    return strings;
}

platform::OsString program_beside_runtime(std::string_view name) {
    const platform::OsString runtime = runtime_binary();
    const std::size_t directory_end = runtime.find_last_of(platform::os_string_from_utf8("/\\")) + 1;
#ifdef _WIN32
    const std::string file = std::string(name) + ".exe";
#else
    const std::string file(name);
#endif
    return runtime.substr(0, directory_end) + platform::os_string_from_utf8(file);
}

platform::OsString test_child() { return program_beside_runtime("test_child"); }

ProgramOutput run_runtime_binary(const std::vector<std::string>& arguments, const RunOptions& options) {
    return run_program(runtime_binary(), os_strings(arguments), options);
}

}  // namespace quern::testing
