// A stand-in for the project's Python, installed as .venv/bin/python in a
// throw-away project (the runtime's argv to it is fixed, so it is steered by the
// environment the runtime passes through):
//   QUERN_BENCH_MODE=write  QUERN_BENCH_FILE=PATH  writes the file to stdout
//       as fast as it can, then waits for the end of its input
//   QUERN_BENCH_MODE=echo   answers every request line at once with
//       {"id":ID,"ok":true,"result":{},"type":"response"}
//   QUERN_BENCH_MODE=idle   prints nothing and waits for the end of its input
//   QUERN_BENCH_MODE=count  reads and counts its input lines, answering none
//       but a request of the command "benchmark", the end marker, which gets
//       {"id":ID,"ok":true,"result":{"count":N},"type":"response"}, N the
//       lines counted so far; at the end of its input (or a shutdown request)
//       it writes the count to the file named by QUERN_BENCH_COUNT_FILE, if set.
//       Neither markers nor shutdown requests are counted.
// Every mode exits 0 on end of input or on a shutdown request.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "write_all.hpp"

namespace {

constexpr std::size_t kChunk = 1 << 20;

using e2e::write_all;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "bench backend: %s: %s\n", what, std::strerror(errno));
    std::exit(2);
}

bool is_shutdown(std::string_view line) {
    return line.find("\"command\":\"shutdown\"") != std::string_view::npos;
}

// The id's JSON text as the request carries it; the requests here are compact
// and their ids are numbers or strings without commas or braces.
std::string_view request_id(std::string_view line) {
    const std::size_t key = line.find("\"id\":");
    if (key == std::string_view::npos) return "null";
    const std::size_t start = key + 5;
    const std::size_t end = line.find_first_of(",}", start);
    return line.substr(start, end - start);
}

// Calls on_line for each complete input line until end of input or until it
// returns false.
template <typename OnLine>
void for_each_input_line(OnLine on_line) {
    std::string pending;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const ssize_t n = ::read(0, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        pending.append(buffer.data(), static_cast<std::size_t>(n));
        std::size_t begin = 0;
        for (std::size_t lf; (lf = pending.find('\n', begin)) != std::string::npos; begin = lf + 1) {
            if (!on_line(std::string_view(pending).substr(begin, lf - begin))) return;
        }
        pending.erase(0, begin);
    }
}

void write_file(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) die(path);
    // Chunks, not the whole file in memory: the runtime's peak RSS as wait4
    // reports it also covers its reaped children, this process among them.
    std::string chunk(kChunk, '\0');
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) die(path);
        if (n == 0) break;
        if (!write_all(1, chunk.data(), static_cast<std::size_t>(n))) die("write");
    }
    ::close(fd);
    for_each_input_line([](std::string_view line) { return !is_shutdown(line); });
}

void echo() {
    std::string answer;
    for_each_input_line([&answer](std::string_view line) {
        if (is_shutdown(line)) return false;
        answer.assign("{\"id\":");
        answer += request_id(line);
        answer += ",\"ok\":true,\"result\":{},\"type\":\"response\"}\n";
        return write_all(1, answer.data(), answer.size());
    });
}

bool is_marker(std::string_view line) {
    return line.find("\"command\":\"benchmark\"") != std::string_view::npos;
}

void count() {
    unsigned long long lines = 0;
    std::string answer;
    for_each_input_line([&](std::string_view line) {
        if (is_shutdown(line)) return false;
        if (!is_marker(line)) {
            ++lines;
            return true;
        }
        answer.assign("{\"id\":");
        answer += request_id(line);
        answer += ",\"ok\":true,\"result\":{\"count\":" + std::to_string(lines) + "},\"type\":\"response\"}\n";
        return write_all(1, answer.data(), answer.size());
    });
    const char* path = std::getenv("QUERN_BENCH_COUNT_FILE");
    if (path == nullptr) return;
    std::FILE* out = std::fopen(path, "w");
    if (out == nullptr) die(path);
    std::fprintf(out, "%llu\n", lines);
    if (std::fclose(out) != 0) die(path);
}

}  // namespace

int main() {
    const char* mode = std::getenv("QUERN_BENCH_MODE");
    const std::string_view m = mode ? mode : "";
    if (m == "write") {
        const char* path = std::getenv("QUERN_BENCH_FILE");
        if (!path) {
            std::fputs("bench backend: QUERN_BENCH_FILE is not set\n", stderr);
            return 2;
        }
        write_file(path);
    } else if (m == "echo") {
        echo();
    } else if (m == "count") {
        count();
    } else if (m == "idle") {
        for_each_input_line([](std::string_view line) { return !is_shutdown(line); });
    } else {
        std::fputs("bench backend: QUERN_BENCH_MODE must be write, echo, count or idle\n", stderr);
        return 2;
    }
    return 0;
}
