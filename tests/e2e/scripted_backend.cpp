// A stand-in for the project's Python in end-to-end tests. It is installed as
// the project's interpreter and follows script.txt in its working directory
// (the project), one directive a line:
//
//   serve             answer each request until end of input; a shutdown
//                     request is answered, then the backend exits 0
//   ignore-shutdown   serve leaves shutdown requests unanswered and goes on
//   no-answer         serve records requests but answers none
//   read N            read N request lines without answering
//   stdout TEXT       write TEXT and a line feed to stdout (stderr TEXT alike)
//   stdout-hex HEX    write the bytes and a line feed (stderr-hex alike)
//   stdout-repeat N C write N copies of C and a line feed (stderr-repeat alike)
//   close-stdin       close standard input
//   grandchild MS     start a grandchild holding stdout and stderr for MS ms;
//                     it writes its process id to grandchild.pid
//   sleep MS          pause
//   exit CODE         exit with CODE
//   hang              sleep until killed
//
// Every request line read is appended to received.log.
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "io/line_reader.hpp"
#include "json/parse.hpp"
#include "json/write.hpp"
#include "platform/os_string.hpp"
#include "platform/process.hpp"
#include "platform/this_process.hpp"
#include "scripted_backend_os.hpp"

namespace {

using namespace quern;

struct Flags {
    bool ignore_shutdown = false;
    bool answer = true;
};

class Backend {
public:
    Backend() : input_(io::HandleByteSource::borrowing(platform::standard_input())), reader_(*input_) {}

    std::optional<std::string> read_request() {
        io::LineResult line = io::read_bounded_line(reader_, 1u << 26);
        if (line.kind == io::LineEventKind::Closed || line.kind == io::LineEventKind::Failed) return std::nullopt;
        std::ofstream("received.log", std::ios::app | std::ios::binary) << line.text << '\n';
        return line.text;
    }

    void serve(const Flags& flags) {
        while (auto line = read_request()) {
            auto parsed = json::parse_json(*line);
            if (!parsed.ok() || !parsed.value().is_object() || !flags.answer) continue;
            const json::Object& request = parsed.value().as_object();
            const json::Value* command = request.find("command");
            const bool shutdown = command && command->is_string() && command->as_string() == "shutdown";
            if (shutdown && flags.ignore_shutdown) continue;
            answer(request);
            if (shutdown) platform::exit_process(0);
        }
        platform::exit_process(0);
    }

private:
    static void answer(const json::Object& request) {
        json::Object result;
        if (const json::Value* command = request.find("command")) result.set("command", *command);
        json::Object response;
        response.set("type", "response");
        response.set("ok", true);
        response.set("result", std::move(result));
        if (const json::Value* id = request.find("id")) response.set("id", *id);
        (void)platform::write_stdout(json::to_compact_text(response) + "\n");
    }

    std::unique_ptr<io::HandleByteSource> input_;
    io::BufferedReader reader_;
};

std::string from_hex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

void write_to(const std::string& stream, const std::string& text) {
    if (stream == "stdout") (void)platform::write_stdout(text + "\n");
    else (void)platform::write_stderr(text + "\n");
}

void start_grandchild(const std::string& own_path, const std::string& millis) {
    platform::ProcessStart start;
    start.program = platform::os_string_from_utf8(own_path);
    start.arguments = {platform::os_string_from_utf8("--grandchild"), platform::os_string_from_utf8(millis)};
    start.stdio = test_backend::own_stdio();
    auto child = platform::start_child_process(start);
    // The grandchild is left to run on its own; it is never waited for.
    if (!child.ok()) platform::exit_process(90);
}

void run_directive(const std::string& line, Backend& backend, Flags& flags, const std::string& own_path) {
    const std::size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    // Only the one separating space goes: leading blanks of the text are kept.
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (verb == "serve") backend.serve(flags);
    else if (verb == "ignore-shutdown") flags.ignore_shutdown = true;
    else if (verb == "no-answer") flags.answer = false;
    else if (verb == "read") for (int n = std::stoi(rest); n > 0 && backend.read_request(); --n) {}
    else if (verb == "stdout" || verb == "stderr") write_to(verb, rest);
    else if (verb == "stdout-hex" || verb == "stderr-hex") write_to(verb.substr(0, 6), from_hex(rest));
    else if (verb == "stdout-repeat" || verb == "stderr-repeat") {
        std::istringstream args(rest);
        std::size_t count = 0;
        char c = 'x';
        args >> count >> c;
        write_to(verb.substr(0, 6), std::string(count, c));
    }
    else if (verb == "close-stdin") test_backend::close_stdin();
    else if (verb == "grandchild") start_grandchild(own_path, rest);
    else if (verb == "sleep") std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(rest)));
    else if (verb == "exit") platform::exit_process(static_cast<int>(std::stoul(rest)));
    else if (verb == "hang") for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

int main(int argc, char** argv) {
    // Unlike the runtime, no prepare_process(): a real interpreter leaves its
    // standard handles inheritable, and the grandchild directive relies on it.
    const std::string own_path = test_backend::own_path(argv[0]);
    if (argc == 3 && std::string(argv[1]) == "--grandchild") {
        std::ofstream("grandchild.pid") << test_backend::own_process_id() << '\n';
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(argv[2])));
        return 0;
    }
    Backend backend;
    Flags flags;
    std::ifstream script("script.txt", std::ios::binary);
    for (std::string line; std::getline(script, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        run_directive(line, backend, flags, own_path);
    }
    platform::exit_process(0);
}
