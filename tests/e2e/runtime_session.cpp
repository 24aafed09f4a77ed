#include "runtime_session.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "support/run_program.hpp"

namespace quern::testing {

struct RuntimeSession::Stream {
    std::mutex mutex;
    std::condition_variable changed;
    std::string bytes;
    std::size_t taken = 0;  // bytes handed out as whole lines by next_record
    bool ended = false;
    std::chrono::steady_clock::time_point ended_at;
};

namespace {

platform::ChildPipe child_pipe(platform::ChildEnd end) {
    auto pipe = platform::create_child_stdio_pipe(end);
    if (!pipe.ok()) throw std::runtime_error(pipe.error());
    return std::move(pipe).value();
}

}  // namespace

RuntimeSession::RuntimeSession(const std::vector<platform::OsString>& arguments, bool read_stdout)
    : stdout_(std::make_shared<Stream>()), stderr_(std::make_shared<Stream>()) {
    platform::ChildPipe in = child_pipe(platform::ChildEnd::Reads);
    platform::ChildPipe out = child_pipe(platform::ChildEnd::Writes);
    platform::ChildPipe err = child_pipe(platform::ChildEnd::Writes);
    platform::ProcessStart start;
    start.program = runtime_binary();
    start.arguments = arguments;
    start.stdio = {in.child.native(), out.child.native(), err.child.native()};
    started_ = std::chrono::steady_clock::now();
    auto process = platform::start_child_process(start);
    if (!process.ok()) throw std::runtime_error(process.error());
    process_ = std::move(process).value();
    stdin_ = std::move(in.runtime);
    if (read_stdout) {
        std::thread(drain, std::move(out.runtime), stdout_).detach();
    } else {
        out.runtime.close();  // a front end that has gone away
        stdout_->ended = true;
    }
    std::thread(drain, std::move(err.runtime), stderr_).detach();
}

RuntimeSession::~RuntimeSession() {
    stdin_.close();
    if (process_.valid() && process_.poll_exit().state == platform::ExitPoll::State::Running) {
        process_.terminate_process();
        process_.wait_for_exit();
    }
}

void RuntimeSession::drain(platform::OwnedHandle pipe, std::shared_ptr<Stream> stream) {
    char buffer[65536];
    for (;;) {
        platform::ReadOutcome read = platform::read_some(pipe.native(), buffer, sizeof buffer);
        std::lock_guard<std::mutex> lock(stream->mutex);
        if (read.kind != platform::ReadOutcome::Kind::Data) {
            stream->ended = true;
            stream->ended_at = std::chrono::steady_clock::now();
            stream->changed.notify_all();
            return;
        }
        stream->bytes.append(buffer, read.size);
        stream->changed.notify_all();
    }
}

void RuntimeSession::send(std::string_view line) {
    base::Status written = platform::write_all(stdin_.native(), std::string(line) + "\n");
    ASSERT_TRUE(written.ok()) << written.error();
}

void RuntimeSession::close_stdin() { stdin_.close(); }

std::optional<std::string> RuntimeSession::next_record(std::chrono::seconds timeout) {
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

int RuntimeSession::wait_for_exit() {
    platform::ExitPoll exit = process_.wait_for_exit();
    ended_ = std::chrono::steady_clock::now();
    for (const auto& stream : {stdout_, stderr_}) {
        std::unique_lock<std::mutex> lock(stream->mutex);
        stream->changed.wait_for(lock, std::chrono::seconds(30), [&] { return stream->ended; });
    }
    return static_cast<int>(exit.exit_code);
}

std::chrono::steady_clock::duration RuntimeSession::output_time() const {
    std::lock_guard<std::mutex> lock(stdout_->mutex);
    return stdout_->ended_at - started_;
}

std::vector<std::string> RuntimeSession::records() {
    std::vector<std::string> lines;
    while (auto line = next_record(std::chrono::seconds(0))) lines.push_back(*line);
    return lines;
}

std::string RuntimeSession::stderr_text() {
    std::lock_guard<std::mutex> lock(stderr_->mutex);
    return stderr_->bytes;
}

}  // namespace quern::testing
