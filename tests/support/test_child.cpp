// The tests' helper child program. It stands in for a project's Python (tests
// install it as .venv/bin/python, on Windows .venv\Scripts\python.exe, and the
// runtime starts it) and for any other program a test needs to start. It
// carries out its directives one after the other, then exits with status 0.
//
// Where the directives come from:
//   started as the backend (arguments "-u -m quern.gui_backend --project DIR"):
//       script.txt in its working directory, one directive a line; without a
//       script.txt the one directive "record".
//   started in any other way: each argument up to "--" is one directive
//       ("exit 7", "stdout two words"); arguments after "--" are only there to
//       be recorded.
//
// A directive is a verb, one space and the rest of the line:
//   serve [N]         answer each request until end of input, then exit 0; a
//                     shutdown request is answered, then it exits 0; with N,
//                     only N requests, then the next directive
//   ignore-shutdown   serve leaves shutdown requests unanswered and goes on
//   leave-at-shutdown serve leaves a shutdown request unanswered and goes on
//                     to the next directive
//   no-answer         serve reads requests but answers none
//   answer-twice      serve writes each answer twice
//   answer-unasked    serve writes answers to ids never asked before each one
//   answer-late N     serve holds answers back and writes each N of them in
//                     reverse order (those still held before it exits)
//   noisy SEED        serve writes a line that is no record before each answer
//   read N            read N request lines without answering
//   stdout TEXT       write TEXT and a line feed to stdout (stderr TEXT alike)
//   stdout-hex HEX    write the bytes and a line feed (stderr-hex alike)
//   stdout-repeat N C write N copies of C and a line feed (stderr-repeat alike)
//   stdout-records N BYTES
//                     write N event records of about BYTES bytes each, as fast
//                     as stdout takes them
//   stdout-partial TEXT
//                     write TEXT without a line feed, as a crash mid-record
//   flood N SEED      write N lines to stdout, most of them not records (not
//                     JSON, not objects, no string "type", not UTF-8, over
//                     1 MiB) among event records, one exactly 1 MiB long, and
//                     some lines to stderr; the same for the same SEED
//   close-stdin       close standard input
//   wait-input        read standard input to its end
//   record            read standard input to its end, then write what this
//                     process was given on stdout as records "key=value", each
//                     ended by a zero byte (support/recording.hpp reads them
//                     back): "arg" for each argument, its own name first,
//                     "line" (Windows: the raw command line), "fd" (POSIX: each
//                     open descriptor), "cwd", "env" for each variable and
//                     "stdin"; then "recorded" and a line feed on stderr
//   record-file NAME  as record, without reading standard input, into the file NAME
//   pid-file NAME     write its process id and a line feed to the file NAME
//   pid-append NAME   add its process id and a line feed to the file NAME
//   group-file NAME   write its process id, a space, its process group id
//                     (Windows: 0) and a line feed to the file NAME
//   stray-handle-file NAME
//                     write "open", "closed" or "none" to the file NAME: whether
//                     the descriptor or handle named by QUERN_STRAY_HANDLE is
//                     open in this process
//   grandchild MS     start a copy of itself that shares this one's stdout and
//                     stderr (not its stdin), adds its process id as a line to
//                     grandchild.pid and lives MS ms; it is never waited for
//   detached-child MS start a copy of itself that has left this one's process
//                     tree on purpose (POSIX: a session of its own; Windows:
//                     broken away from the job), with its streams on the null
//                     device, writes its process id to detached.pid and lives
//                     MS ms; it is never waited for
//   sleep MS          pause
//   exit CODE         exit with CODE
//   exit-after MS CODE [TEXT]
//                     go on with the next directives, but MS ms from now write
//                     TEXT without a line feed to stdout and exit with CODE,
//                     as a crash at a moment nobody chose
//   hang              sleep until killed
//   exec-ignoring-sigchld
//                     POSIX: become the program given after "--" (with its
//                     arguments), SIGCHLD ignored as a careless parent leaves it
//   job-without-breakaway
//                     Windows: join a new job object that lets no process
//                     break away and has a UI limit (so that Windows nests no
//                     other job in it), run the program given after "--" with
//                     this one's standard streams and exit with its exit status
//   exec-with-stray-handle
//                     run the program given after "--" (with its arguments)
//                     holding one more inheritable descriptor or handle, named
//                     in QUERN_STRAY_HANDLE, as a careless parent might pass
//                     it; POSIX: becomes it; Windows: waits for it and exits
//                     with its exit code
//
// Every request line read (serve, read) is appended to received.log. A verb it
// does not know, or a number that is none, is a message on stderr and exit
// status 97, so that a mistyped directive cannot pass for a runtime fault.
//
// A new verb is one more row in kVerbs.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "io/line_reader.hpp"
#include "json/parse.hpp"
#include "json/write.hpp"
#include "platform/os_string.hpp"
#include "platform/process.hpp"
#include "platform/this_process.hpp"
#include "support/test_child_os.hpp"

namespace {

using namespace quern;
using platform::OsString;

constexpr int kBadDirective = 97;
constexpr int kGrandchildNotStarted = 90;
constexpr int kRecordNotWritten = 3;

[[noreturn]] void refuse(std::string_view why, std::string_view text) {
    (void)platform::write_stderr("test_child: " + std::string(why) + ": " + std::string(text) + "\n");
    platform::exit_process(kBadDirective);
}

long long number(std::string_view text, int base = 10) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) refuse("not a number", text);
    return value;
}

// Standard input, taken either as request lines or as all that is left.
class Input {
public:
    Input() : source_(io::HandleByteSource::borrowing(platform::standard_input())), reader_(*source_) {}

    std::optional<std::string> line() {
        io::LineResult line = io::read_bounded_line(reader_, std::size_t{1} << 26);
        if (line.kind == io::LineEventKind::Closed || line.kind == io::LineEventKind::Failed) return std::nullopt;
        return std::move(line.text);
    }

    std::string rest() {
        std::string bytes;
        do {
            bytes += reader_.buffered();
            reader_.consume(reader_.buffered().size());
        } while (reader_.refill().kind == platform::ReadOutcome::Kind::Data);
        return bytes;
    }

private:
    std::unique_ptr<io::HandleByteSource> source_;
    io::BufferedReader reader_;
};

// Lines that are no records, for flood and noisy: the same ones for the same seed.
class Garbage {
public:
    explicit Garbage(unsigned long long seed) : random_(seed) {}

    // Any line but the large ones.
    std::string small_line() {
        using namespace std::string_view_literals;
        static constexpr std::string_view kLines[] = {
            "not json"sv,
            "{\"type\":"sv,
            "{\"type\":\"event\""sv,
            "[1,2,3]"sv,
            "{\"no\":\"type\"}"sv,
            "{\"type\":5}"sv,
            "{\"type\":null,\"id\":1}"sv,
            "\"type\""sv,
            "null"sv,
            "42"sv,
            ""sv,
            "\r"sv,
            "   "sv,
            "{\"type\":\"event\"}{\"type\":\"event\"}"sv,
            "{\"type\":\"event\",\"bad\":\"\xff\xfe\"}"sv,
            "\xc3\x28"sv,
            "{\"type\":\"event\",\"nul\":\"a\0b\"}"sv,
            "{\"type\":\"event\"}\0"sv,
        };
        const std::size_t which = pick(std::size(kLines) + 1);
        if (which == std::size(kLines)) return "{\"type\":\"event\",\"deep\":" + std::string(200, '[') + std::string(200, ']') + "}";
        return std::string(kLines[which]);
    }

    std::size_t pick(std::size_t count) { return static_cast<std::size_t>(random_() % count); }

private:
    std::mt19937_64 random_;
};

struct Child {
    std::vector<OsString> arguments;  // its own name first
    Input input;
    bool ignore_shutdown = false;
    bool leave_at_shutdown = false;
    bool answer = true;
    bool answer_twice = false;
    bool answer_unasked = false;
    std::size_t answer_late = 0;
    std::vector<json::Object> late = {};  // requests whose answers are held back
    long long unasked = 0;
    std::optional<Garbage> noise = {};
};

std::optional<std::string> read_request(Child& child) {
    std::optional<std::string> line = child.input.line();
    if (line) std::ofstream("received.log", std::ios::app | std::ios::binary) << *line << '\n';
    return line;
}

std::string response_text(const json::Value* id, const json::Value* command) {
    json::Object result;
    if (command) result.set("command", *command);
    json::Object response;
    response.set("type", "response");
    response.set("ok", true);
    response.set("result", std::move(result));
    if (id) response.set("id", *id);
    return json::to_compact_text(response) + "\n";
}

void answer(Child& child, const json::Object& request) {
    std::string text;
    if (child.noise) text += child.noise->small_line() + "\n";
    if (child.answer_unasked) {
        // A string and a number, neither of them ever an id of a request.
        const json::Value command("status");
        const json::Value text_id("unasked-" + std::to_string(child.unasked));
        const json::Value number_id = json::Value::from_signed(-1000000 - child.unasked++);
        text += response_text(&text_id, &command) + response_text(&number_id, &command);
    }
    const std::string answer = response_text(request.find("id"), request.find("command"));
    text += answer;
    if (child.answer_twice) text += answer;
    (void)platform::write_stdout(text);
}

// Every held answer, the last one held first.
void answer_late(Child& child) {
    while (!child.late.empty()) {
        answer(child, child.late.back());
        child.late.pop_back();
    }
}

// count < 0: until the end of input.
void serve(Child& child, long long count) {
    for (; count != 0; --count) {
        std::optional<std::string> line = read_request(child);
        if (!line) break;
        auto parsed = json::parse_json(*line);
        if (!parsed.ok() || !parsed.value().is_object() || !child.answer) continue;
        const json::Object& request = parsed.value().as_object();
        const json::Value* command = request.find("command");
        const bool shutdown = command && command->is_string() && command->as_string() == "shutdown";
        if (shutdown && child.leave_at_shutdown) return;
        if (shutdown && child.ignore_shutdown) continue;
        if (shutdown) {
            answer_late(child);
            answer(child, request);
            platform::exit_process(0);
        }
        if (child.answer_late == 0) {
            answer(child, request);
            continue;
        }
        child.late.push_back(request);
        if (child.late.size() == child.answer_late) answer_late(child);
    }
    if (count != 0) {
        answer_late(child);
        platform::exit_process(0);
    }
}

// "N SEED": N lines, mostly no records; see the directive's description.
void flood(const std::string& count_and_seed) {
    std::istringstream words(count_and_seed);
    std::string count;
    std::string seed;
    words >> count >> seed;
    const long long lines = number(count);
    Garbage garbage(static_cast<unsigned long long>(number(seed)));
    constexpr std::size_t kLimit = 1048576;  // a backend line, its line feed included
    std::string out;
    std::string err;
    int large = 0;  // the large pair goes once
    for (long long i = 0; i < lines; ++i) {
        switch (garbage.pick(8)) {
            case 0:
            case 1:
            case 2: out += garbage.small_line() + "\n"; break;
            case 3: out += R"({"n":)" + std::to_string(i) + R"(,"type":"event"})" + "\n"; break;
            case 4: err += garbage.small_line() + "\n"; break;
            case 5: out += "\xff\xfe" + std::to_string(i) + "\n"; break;
            default:
                if (large++ == 0) {
                    // Over the limit by one byte, then exactly at it.
                    out += std::string(kLimit, 'x') + "\n";
                    const std::string head = R"({"n":)" + std::to_string(i) + R"(,"pad":")";
                    const std::string tail = R"(","type":"event"})";
                    out += head + std::string(kLimit - 1 - head.size() - tail.size(), 'p') + tail + "\n";
                } else {
                    out += R"({"n":)" + std::to_string(i) + R"(,"type":"event"})" + "\n";
                }
                break;
        }
        if (out.size() >= (1u << 20)) {
            if (!platform::write_stdout(out)) return;
            out.clear();
        }
        if (err.size() >= 4096) {
            (void)platform::write_stderr(err);
            err.clear();
        }
    }
    (void)platform::write_stdout(out);
    (void)platform::write_stderr(err);
}

void add_record(std::string& records, std::string_view key, std::string_view value) {
    records.append(key);
    records += '=';
    records.append(value);
    records += '\0';
}

// What this process was given, as records; with input, "stdin" last.
std::string recording(const Child& child, const std::optional<std::string>& input) {
    std::string records;
    for (const OsString& argument : child.arguments) add_record(records, "arg", platform::to_utf8_lossy(argument));
    for (const auto& [key, value] : test_child::os_records()) add_record(records, key, value);
    add_record(records, "cwd", platform::to_utf8_lossy(std::filesystem::current_path().native()));
    for (const std::string& entry : test_child::environment_entries()) add_record(records, "env", entry);
    if (input) add_record(records, "stdin", *input);
    return records;
}

void record(Child& child) {
    const std::string input = child.input.rest();
    if (!platform::write_stdout(recording(child, input)) || !platform::write_stderr("recorded\n")) {
        platform::exit_process(kRecordNotWritten);
    }
}

std::string from_hex(std::string_view hex) {
    if (hex.size() % 2 != 0) refuse("odd number of hex digits", hex);
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) bytes += static_cast<char>(number(hex.substr(i, 2), 16));
    return bytes;
}

// "N C": N copies of the character C.
std::string repeated(const std::string& count_and_character) {
    std::istringstream words(count_and_character);
    std::string count;
    char character = 'x';
    words >> count >> character;
    return std::string(static_cast<std::size_t>(number(count)), character);
}

void start_grandchild(const Child& child, const std::string& millis) {
    const std::string pause = "sleep " + std::to_string(number(millis));
    platform::ProcessStart start;
    start.program = test_child::own_path(child.arguments.at(0));
    start.arguments = {platform::os_string_from_utf8("pid-append grandchild.pid"), platform::os_string_from_utf8(pause)};
    start.stdio = test_child::own_output_streams();
    if (!platform::start_child_process(start).ok()) platform::exit_process(kGrandchildNotStarted);
}

void start_detached(const Child& child, const std::string& millis) {
    const std::string pause = "sleep " + std::to_string(number(millis));
    if (!test_child::start_detached_copy(test_child::own_path(child.arguments.at(0)),
                                         {platform::os_string_from_utf8("pid-file detached.pid"),
                                          platform::os_string_from_utf8(pause)})) {
        platform::exit_process(kGrandchildNotStarted);
    }
}

// The program and its arguments after "--".
std::vector<OsString> passengers(const Child& child) {
    const auto dashes = std::find(child.arguments.begin(), child.arguments.end(), platform::os_string_from_utf8("--"));
    if (dashes == child.arguments.end() || dashes + 1 == child.arguments.end()) refuse("no program", "after --");
    return std::vector<OsString>(dashes + 1, child.arguments.end());
}

// "N BYTES": N records {"n":i,"pad":"ppp...","type":"event"} of BYTES bytes
// or a little more, written in large pieces.
void write_records(const std::string& count_and_size) {
    std::istringstream words(count_and_size);
    std::string count;
    std::string size;
    words >> count >> size;
    const long long records = number(count);
    const std::size_t pad = static_cast<std::size_t>(std::max(0LL, number(size) - 40));
    std::string chunk;
    for (long long i = 0; i < records; ++i) {
        chunk += R"({"n":)" + std::to_string(i) + R"(,"pad":")" + std::string(pad, 'p') + R"(","type":"event"})" + "\n";
        if (chunk.size() >= (1u << 20) || i + 1 == records) {
            if (!platform::write_stdout(chunk)) return;
            chunk.clear();
        }
    }
}

// "MS CODE [TEXT]"
void exit_after(const std::string& given) {
    std::istringstream words(given);
    std::string millis;
    std::string code;
    words >> millis >> code;
    std::string text;
    std::getline(words >> std::ws, text);
    const auto pause = std::chrono::milliseconds(number(millis));
    const int status = static_cast<int>(number(code));
    std::thread([pause, status, text] {
        std::this_thread::sleep_for(pause);
        (void)platform::write_stdout(text);
        platform::exit_process(status);
    }).detach();
}

void out(const std::string& text) { (void)platform::write_stdout(text + "\n"); }
void err(const std::string& text) { (void)platform::write_stderr(text + "\n"); }

using Action = void (*)(Child& child, const std::string& rest);

struct Verb {
    std::string_view name;
    Action run;
};

const Verb kVerbs[] = {
    {"serve", [](Child& child, const std::string& count) { serve(child, count.empty() ? -1 : number(count)); }},
    {"ignore-shutdown", [](Child& child, const std::string&) { child.ignore_shutdown = true; }},
    {"leave-at-shutdown", [](Child& child, const std::string&) { child.leave_at_shutdown = true; }},
    {"no-answer", [](Child& child, const std::string&) { child.answer = false; }},
    {"answer-twice", [](Child& child, const std::string&) { child.answer_twice = true; }},
    {"answer-unasked", [](Child& child, const std::string&) { child.answer_unasked = true; }},
    {"answer-late",
     [](Child& child, const std::string& count) { child.answer_late = static_cast<std::size_t>(number(count)); }},
    {"noisy",
     [](Child& child, const std::string& seed) { child.noise.emplace(static_cast<unsigned long long>(number(seed))); }},
    {"read",
     [](Child& child, const std::string& count) {
         for (long long n = number(count); n > 0 && read_request(child); --n) {
         }
     }},
    {"stdout", [](Child&, const std::string& text) { out(text); }},
    {"stderr", [](Child&, const std::string& text) { err(text); }},
    {"stdout-hex", [](Child&, const std::string& hex) { out(from_hex(hex)); }},
    {"stderr-hex", [](Child&, const std::string& hex) { err(from_hex(hex)); }},
    {"stdout-repeat", [](Child&, const std::string& given) { out(repeated(given)); }},
    {"stderr-repeat", [](Child&, const std::string& given) { err(repeated(given)); }},
    {"stdout-records", [](Child&, const std::string& given) { write_records(given); }},
    {"stdout-partial", [](Child&, const std::string& text) { (void)platform::write_stdout(text); }},
    {"flood", [](Child&, const std::string& given) { flood(given); }},
    {"close-stdin", [](Child&, const std::string&) { test_child::close_stdin(); }},
    {"wait-input", [](Child& child, const std::string&) { (void)child.input.rest(); }},
    {"record", [](Child& child, const std::string&) { record(child); }},
    {"record-file",
     [](Child& child, const std::string& name) {
         // Taken before the file is opened, so that its descriptor is not listed.
         const std::string records = recording(child, std::nullopt);
         std::ofstream(name, std::ios::binary) << records;
     }},
    {"pid-file",
     [](Child&, const std::string& name) {
         std::ofstream(name, std::ios::binary) << test_child::own_process_id() << '\n';
     }},
    {"pid-append",
     [](Child&, const std::string& name) {
         std::ofstream(name, std::ios::binary | std::ios::app) << test_child::own_process_id() << '\n';
     }},
    {"group-file",
     [](Child&, const std::string& name) {
         std::ofstream(name, std::ios::binary)
             << test_child::own_process_id() << ' ' << test_child::own_process_group() << '\n';
     }},
    {"stray-handle-file",
     [](Child&, const std::string& name) { std::ofstream(name, std::ios::binary) << test_child::stray_handle_state(); }},
    {"grandchild", [](Child& child, const std::string& millis) { start_grandchild(child, millis); }},
    {"detached-child", [](Child& child, const std::string& millis) { start_detached(child, millis); }},
    {"sleep",
     [](Child&, const std::string& millis) { std::this_thread::sleep_for(std::chrono::milliseconds(number(millis))); }},
    {"exit", [](Child&, const std::string& code) { platform::exit_process(static_cast<int>(number(code))); }},
    {"exit-after", [](Child&, const std::string& given) { exit_after(given); }},
    {"exec-ignoring-sigchld",
     [](Child& child, const std::string&) {
         if (!test_child::exec_ignoring_sigchld(passengers(child))) refuse("cannot exec", "the program after --");
     }},
    {"job-without-breakaway",
     [](Child& child, const std::string&) {
         const std::optional<int> status = test_child::run_in_closed_job(passengers(child));
         if (!status) refuse("cannot run in a job", "the program after --");
         platform::exit_process(*status);
     }},
    {"exec-with-stray-handle",
     [](Child& child, const std::string&) {
         if (!test_child::run_with_stray_handle(passengers(child))) refuse("cannot run", "the program after --");
     }},
    {"hang",
     [](Child&, const std::string&) {
         for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
     }},
};

void run(Child& child, const std::string& directive) {
    if (directive.empty()) return;
    const std::size_t space = directive.find(' ');
    const std::string_view verb = std::string_view(directive).substr(0, space);
    // Only the one separating space goes: leading blanks of the text are kept.
    const std::string rest = space == std::string::npos ? std::string() : directive.substr(space + 1);
    for (const Verb& known : kVerbs) {
        if (known.name == verb) return known.run(child, rest);
    }
    refuse("unknown directive", directive);
}

bool started_as_backend(const std::vector<OsString>& arguments) {
    const char* const fixed[] = {"-u", "-m", "quern.gui_backend", "--project"};
    if (arguments.size() != 6) return false;
    for (std::size_t i = 0; i < 4; ++i) {
        if (arguments[i + 1] != platform::os_string_from_utf8(fixed[i])) return false;
    }
    return true;
}

std::vector<std::string> directives(const std::vector<OsString>& arguments) {
    std::vector<std::string> lines;
    if (started_as_backend(arguments)) {
        // Read whole before the first directive runs, so that "record" lists
        // no descriptor of it.
        std::ifstream script("script.txt", std::ios::binary);
        if (!script) {
            // A script that is there but cannot be read must not pass for none.
            std::error_code ignored;
            if (std::filesystem::exists("script.txt", ignored)) refuse("cannot read", "script.txt");
            return {"record"};
        }
        for (std::string line; std::getline(script, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }
    for (std::size_t i = 1; i < arguments.size() && arguments[i] != platform::os_string_from_utf8("--"); ++i) {
        lines.push_back(platform::to_utf8_lossy(arguments[i]));
    }
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    // Unlike the runtime, no prepare_process(): a real interpreter leaves its
    // standard handles inheritable, and the grandchild directive relies on it.
    Child child{platform::program_arguments(argc, argv), Input()};
    for (const std::string& directive : directives(child.arguments)) run(child, directive);
    platform::exit_process(0);
}
